// capture.h - the text that code under test writes: to a FILE * it is handed, or to stdout or stderr.
#pragma once
#include <cstdio>     // FILE, open_memstream, tmpfile, fflush, fread, fclose, rewind
#include <cstdlib>    // free
#include <string>
#include <unistd.h>   // dup, dup2, close

// What print(FILE *) writes, through an in-memory stream; "<capture failed>" when that stream
// cannot be made or closed, which no expected text matches.
template <typename Print>
std::string printed(Print print)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    if (out == nullptr)
        return "<capture failed>";
    print(out);
    const bool closed = std::fclose(out) == 0;
    std::string text = closed ? std::string(buf, len) : "<capture failed>";
    std::free(buf);
    return text;
}

// What fn writes to stream (stdout or stderr). The stream's file descriptor is sent to a temporary
// file meanwhile, so what child processes forked inside fn write is captured too.
template <typename Fn>
std::string captured(FILE *stream, Fn fn)
{
    std::fflush(stream);
    const int fd = fileno(stream);
    FILE *tmp = std::tmpfile();
    if (tmp == nullptr)
        return "<capture failed>";
    const int saved = dup(fd);
    if (saved < 0 || dup2(fileno(tmp), fd) < 0) {
        if (saved >= 0)
            close(saved);
        std::fclose(tmp);
        return "<capture failed>";
    }
    fn();
    std::fflush(stream);
    const bool restored = dup2(saved, fd) >= 0;
    close(saved);
    std::string text;
    std::rewind(tmp);
    char buf[256];
    for (size_t got; (got = std::fread(buf, 1, sizeof buf, tmp)) > 0;)
        text.append(buf, got);
    const bool read_all = std::ferror(tmp) == 0;
    std::fclose(tmp);
    return restored && read_all ? text : "<capture failed>";
}
