// Bounded forms of the small-file readers, for callers inside the library that know their
// buffer's size. The exported readers have no bound of their own (their callers size the buffer).
#pragma once

#include <cstddef>
#include <cstdio>

namespace brim {

// Stores bytes from the stream's position into buf until end of file (or a newline, which is
// consumed but not stored, when stop_at_newline), at most max bytes. No terminator is written.
// Returns the number of bytes stored.
size_t read_stream(FILE *fp, char *buf, size_t max, bool stop_at_newline);

// getStrFromFile into a buffer of cap bytes (cap >= 1): reads at most cap - 1 bytes and ends the
// text in place of the last byte read. Returns the text length, or -1 (buffer untouched) when the
// file cannot be opened.
int read_text_file(const char *path, char *buf, size_t cap);

// Forms "/tmp/<name>" in out; false when the name is absent or does not fit (out is then "").
bool tmp_path(const char *name, char *out, size_t cap);

}  // namespace brim
