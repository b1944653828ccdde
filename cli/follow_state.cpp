// The state file is a few lines of ASCII, one value each, the last a fingerprint of the
// others, so that a torn or edited file is recognised rather than trusted:
//   ndislog-follow-state 2
//   generation 5f0c2a9e41b7d3c8
//   offset 12345
//   next-record 42
//   line-open 0
//   first 0 57 a1b2c3d4e5f60718
//   last 12288 12345 0123456789abcdef
//   stretch 0f1e2d3c4b5a6978
//   check 89abcdef01234567
// Version 1 has no stretch line; it is read still, and saved as version 2 from then on.
#include "follow_state.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <vector>

#include "digits.h"
#include "platform.h"

namespace {

constexpr char HEADER[] = "ndislog-follow-state 2\n";
constexpr char HEADER_1[] = "ndislog-follow-state 1\n";
constexpr size_t HEADER_SIZE = sizeof HEADER - 1;
constexpr size_t STATE_TEXT_MAX = 4096;
// Beyond any file a file system holds (8 PiB): a place there was never written.
constexpr int64_t OFFSET_MAX = int64_t{1} << 53;

std::string Hex16(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, value);
    return text;
}

uint64_t FingerprintOf(const std::string& text)
{
    return ::Fingerprint(FINGERPRINT_START, text.data(), text.size());
}

// The words of one line of the state file.
std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    for (size_t start = 0; start <= line.size();) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// A number of the state file: digits only, in base 10 or 16, no sign, no overflow.
template <typename Number>
bool ReadNumber(std::string_view text, int base, Number* number)
{
    uint64_t value = 0;
    if (!ReadWholeNumber(text, base, base == 10 ? 18u : 16u, &value))
        return false;
    *number = static_cast<Number>(value);
    return true;
}

bool ReadMark(const std::vector<std::string_view>& words, LineMark* mark)
{
    return words.size() == 4 && ReadNumber(words[1], 10, &mark->start) && ReadNumber(words[2], 10, &mark->end) &&
           ReadNumber(words[3], 16, &mark->fingerprint);
}

bool IsGeneration(const std::string& text)
{
    return text.size() == 16 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// True for a place a follower could have written: the first line starts the log and holds
// something once anything was read, the last line ends at the offset and is the first line
// when it starts at 0, and lies after it otherwise.
bool IsSanePlace(const FollowPlace& place, int64_t lineOpen)
{
    const LineMark& first = place.first;
    const LineMark& last = place.last;
    return IsGeneration(place.generation) && (lineOpen == 0 || lineOpen == 1) && place.nextRecord >= 1 &&
           place.offset <= OFFSET_MAX && first.start == 0 && first.end <= place.offset &&
           (first.end > 0 || place.offset == 0) && last.start <= last.end && last.end == place.offset &&
           (last.start == 0 ? last == first : last.start >= first.end);
}

}  // namespace

uint64_t Fingerprint(uint64_t fingerprint, const char* bytes, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        fingerprint ^= static_cast<unsigned char>(bytes[i]);
        fingerprint *= 0x100000001B3u;
    }
    return fingerprint;
}

std::string NewGeneration()
{
    // Nothing secret: the id only has to differ from every other one. The time, the process,
    // an address and a count tell runs and restarts apart.
    static uint64_t made = 0;
    uint64_t seeds[5] = {0, 0, 0, reinterpret_cast<uintptr_t>(&made), ++made};
    MomentAndProcess(seeds);
    uint64_t fingerprint = FINGERPRINT_START;
    for (const uint64_t seed : seeds)
        fingerprint = Fingerprint(fingerprint, reinterpret_cast<const char*>(&seed), sizeof seed);
    // A final mix, so that ids made a moment apart share no visible digits.
    fingerprint ^= fingerprint >> 33;
    fingerprint *= 0xFF51AFD7ED558CCDu;
    fingerprint ^= fingerprint >> 33;
    return Hex16(fingerprint);
}

std::string StateText(const FollowPlace& place)
{
    char body[512];
    std::snprintf(body, sizeof body,
                  "generation %s\noffset %" PRId64 "\nnext-record %" PRId64 "\nline-open %d\n"
                  "first %" PRId64 " %" PRId64 " %016" PRIx64 "\nlast %" PRId64 " %" PRId64 " %016" PRIx64 "\n"
                  "stretch %016" PRIx64 "\n",
                  place.generation.c_str(), place.offset, place.nextRecord, place.lineOpen ? 1 : 0,
                  place.first.start, place.first.end, place.first.fingerprint, place.last.start, place.last.end,
                  place.last.fingerprint, place.stretch);
    const std::string text = HEADER + std::string(body);
    return text + "check " + Hex16(FingerprintOf(text)) + "\n";
}

bool ParseStateText(const std::string& text, FollowPlace* place)
{
    const bool version1 = text.compare(0, HEADER_SIZE, HEADER_1) == 0;
    const size_t checkAt = text.rfind("check ");
    if ((!version1 && text.compare(0, HEADER_SIZE, HEADER) != 0) || checkAt == std::string::npos ||
        text.substr(checkAt) != "check " + Hex16(FingerprintOf(text.substr(0, checkAt))) + "\n")
        return false;
    std::vector<std::vector<std::string_view>> lines;
    const std::string_view body = std::string_view(text).substr(HEADER_SIZE, checkAt - HEADER_SIZE);
    for (size_t start = 0, end; (end = body.find('\n', start)) != std::string_view::npos; start = end + 1)
        lines.push_back(Words(body.substr(start, end - start)));
    static const char* const NAMES[] = {"generation", "offset", "next-record", "line-open", "first", "last", "stretch"};
    if (lines.size() != std::size(NAMES) - (version1 ? 1 : 0))
        return false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i][0] != NAMES[i] || lines[i].size() != (i == 4 || i == 5 ? 4u : 2u))
            return false;
    }
    FollowPlace read;
    read.generation = lines[0][1];
    int64_t lineOpen = -1;
    if (!ReadNumber(lines[1][1], 10, &read.offset) || !ReadNumber(lines[2][1], 10, &read.nextRecord) ||
        !ReadNumber(lines[3][1], 10, &lineOpen) || !ReadMark(lines[4], &read.first) || !ReadMark(lines[5], &read.last) ||
        (!version1 && !ReadNumber(lines[6][1], 16, &read.stretch)))
        return false;
    read.lineOpen = lineOpen == 1;
    read.stretchKnown = !version1;
    // A place that could not have been written is no place to go on from.
    if (!IsSanePlace(read, lineOpen))
        return false;
    *place = read;
    return true;
}

StateLoad LoadFollowState(const std::string& path, FollowPlace* place, int* error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = errno;
        return errno == ENOENT ? StateLoad::Missing : StateLoad::Unusable;
    }
    std::string text(STATE_TEXT_MAX, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    *error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    return *error == 0 && ParseStateText(text, place) ? StateLoad::Loaded : StateLoad::Unusable;
}

bool SaveFollowState(const std::string& path, const FollowPlace& place, int* error)
{
    const std::string temporary = path + STATE_TEMPORARY_SUFFIX;
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        *error = errno;
        return false;
    }
    const std::string text = StateText(place);
    bool saved = std::fwrite(text.data(), 1, text.size(), file) == text.size() && FlushToDisk(file);
    int failure = saved ? 0 : errno;
    if (std::fclose(file) != 0 && saved) {
        saved = false;
        failure = errno;
    }
    if (saved && !RenameOver(temporary, path)) {
        saved = false;
        failure = errno;
    }
    if (!saved) {
        std::remove(temporary.c_str());
        *error = failure;
    }
    return saved;
}
