# Run by CPack after staging, before zipping: gives every staged file and folder one fixed
# time, SOURCE_DATE_EPOCH (the release command sets it to the commit's time), so that builds
# at different times give the same zip. Without it the time is 2026-01-01 00:00 UTC.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
    set(epoch 1767225600)
endif()
execute_process(
    COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec touch -h -d @${epoch} {} +
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not set the staged files' times (${status})")
endif()
