// The files a run writes (output_file.cpp; what differs by system in
// posix/output_file.cpp and windows/output_file.cpp).
//
// A regular file (or a path that does not exist yet) is written to a
// temporary file beside it, renamed over it only when the whole run
// succeeded; it keeps its permission bits, and a symbolic link is written
// through (the link stays). A file the user may not write (a read-only
// one, unless the user is root) is refused, as the shell refuses it. The
// rename replaces this one name: other hard links to the old file keep the
// old content. Anything else (a device, a FIFO, /dev/stdout, a process
// substitution) is written in place.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace su55if::host {

class OutputFile {
public:
    // Opens the output before anything is computed (Error naming it, exit 2).
    explicit OutputFile(const std::string &path);
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() { discard(); }  // unless published, the target stays as it was

    std::FILE *stream() { return stream_; }  // where the run writes, as it goes
    // Throws Error once a write to stream() has failed: a long run stops soon.
    void checkWrites();

private:
    friend class OutputSet;
    void close();    // flushes, checks every write and closes: all that may fail for want of space
    void publish();  // renames the temporary file over the target
    void discard();
    [[noreturn]] void fail(int error);

    std::string path_;
    std::string target_;  // path_ with symbolic links followed
    int fd_ = -1;
    int writeError_ = 0;  // of the first write that failed
    std::FILE *stream_ = nullptr;
    int slot_ = -1;  // the temporary file's entry for the signal handler; -1 when written in place
};

// Every output of one run, all or nothing: none is renamed into place before
// all were written and closed. commit() throws Error naming the path.
class OutputSet {
public:
    OutputFile &add(const std::string &path) { return *files_.emplace_back(std::make_unique<OutputFile>(path)); }
    void commit() {
        for (const auto &file : files_) {
            file->close();
        }
        for (const auto &file : files_) {
            file->publish();
        }
    }

private:
    std::vector<std::unique_ptr<OutputFile>> files_;
};

// Removes every temporary file not yet renamed into place, for a process
// that ends without unwinding (the library ended it during a call).
void removeTemporaryOutputs();

// Refuses (Error, exit 2) an output that is the same file as an input or
// another output: links followed, also two names for one file not made yet;
// and standard output that is an input (`>> in.csv`), which the run would
// read back as it writes it.
void refuseClashingPaths(const std::vector<std::string> &inputs, const std::vector<std::string> &outputs);

// What a path stands for, to tell two names of one file: "file:" and an id
// for a regular file, "name:" and the absolute path (links and .. followed)
// for a name not made yet, "" for anything else.
std::string fileIdentity(const std::string &path);

// What standard output stands for, as fileIdentity() gives it: "file:" and
// an id when it is a regular file, "" for anything else.
std::string standardOutputIdentity();

}  // namespace su55if::host
