// Texts that the Windows program and the companion both show, code page 932 like every
// program text.
#pragma once

// Stands before the path of a log that cannot be opened.
constexpr char CANNOT_OPEN_TEXT[] = "Can't Open ";
// Shown when memory for the report runs out.
constexpr char NO_MEMORY_TEXT[] = "メモリがありません";
