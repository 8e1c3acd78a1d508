// The files a run writes, and standard output.
//
// A regular file (or a path that does not exist yet) is written to a
// temporary file in the same folder, which replaces the target only when the
// whole run succeeded; the target keeps its permission bits, and a symbolic
// link is written through to the file it names (the link stays). A regular
// file with more than one hard link is written to an unnamed temporary file
// and copied into the target on commit, so that every link still shows it.
// Anything else (a device, a FIFO, /dev/stdout, a process substitution) is
// written in place.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace su55if::host {

class OutputFile {
public:
    // Opens the output before anything is computed; throws HostError (exit
    // 2) naming the path when it cannot be written.
    explicit OutputFile(const std::string &path);
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    // Without commit(), the temporary file is removed and the target stays
    // as it was.
    ~OutputFile();

    // Where the run writes, as it goes.
    std::FILE *stream();
    const std::string &path() const;

    // Throws HostError when a write to stream() has failed so far, so that a
    // long run can stop as soon as its output is lost.
    void checkWrites();

    // Flushes, checks every write, closes and puts the file in place; throws
    // HostError naming the path.
    void commit();

    // commit() in two steps, for a set of outputs: close() does everything
    // that may fail for want of space, publish() replaces the target.
    void close();
    void publish();

private:
    friend class OutputSet;
    enum class Mode { replace, copyIn, inPlace };
    void createTemporary(const struct stat *existing);
    static ssize_t writeOut(void *cookie, const char *data, std::size_t size);
    void discard();
    [[noreturn]] void fail(int error);

    std::string path_;
    std::string target_;     // the file written: path_ with symbolic links followed
    std::string temporary_;  // replace: the temporary file beside the target
    Mode mode_ = Mode::replace;
    int fd_ = -1;
    int writeError_ = 0;  // the first write that failed
    std::FILE *stream_ = nullptr;
    int slot_ = -1;  // replace: where the temporary name is kept for the signal handler
    bool closed_ = false;
};

// Every output of one run, all or nothing: commit() puts any in place only
// after all of them were written and closed.
class OutputSet {
public:
    OutputFile &add(const std::string &path);
    void commit();

private:
    std::vector<std::unique_ptr<OutputFile>> files_;
};

// Refuses (HostError, exit 2), before anything is computed, an output that is
// the same file as an input or as another output: the same regular file
// (device and inode, links followed) or the same path not yet existing.
void refuseClashingPaths(const std::vector<std::string> &inputs, const std::vector<std::string> &outputs);

// Flushes standard output and checks that every write to it succeeded; a
// failure is HostError (exit 2).
void finishStandardOutput();

// The message for an exception that ends the run: a failed write to
// standard output (fmt::print throws then) is named as such.
std::string describeFailure(const std::exception &error);

}  // namespace su55if::host
