// Running the built su55if-host as a user does: in a scratch directory, its
// exit code, standard output, standard error and files checked.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace su55if::test {

namespace fs = std::filesystem;

// The host under test: the one built with the tests, or the one that
// SU55IF_TEST_HOST names, after the words of a command that runs it (such as
// "build/windows/wine-run build/windows/tools/su55if-host.exe"; no word holds
// a space). SU55IF_TEST_LIBRARY names the library it loads then.
inline std::vector<std::string> hostCommand() {
    const char *command = std::getenv("SU55IF_TEST_HOST");
    std::vector<std::string> words;
    std::istringstream stream(command != nullptr ? command : "");
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words.empty() ? std::vector<std::string>{SU55IF_HOST_BINARY} : words;
}
inline const std::vector<std::string> kHostCommand = hostCommand();
inline const fs::path kHost = kHostCommand.back();
inline const fs::path kLibraryFile =
    std::getenv("SU55IF_TEST_LIBRARY") != nullptr ? std::getenv("SU55IF_TEST_LIBRARY") : SU55IF_LIBRARY_FILE;
inline const fs::path kExamples = SU55IF_EXAMPLES_DIR;

struct Outcome {
    int exitCode = -1;  // 128 + the signal for a run ended by one
    std::string out;
    std::string err;
};

inline std::string readFile(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void writeFile(const fs::path &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Starts `program` with `args` in `directory`, standard output and error
// going to the files named (created or emptied; standard output appended to
// with `append`, as `>>` does).
inline pid_t startProgram(const fs::path &program, const std::vector<std::string> &args, const fs::path &directory,
                          const fs::path &outFile, const fs::path &errFile, bool append = false) {
    const pid_t child = fork();
    if (child == 0) {
        // The host under test through the command that runs it.
        std::vector<char *> argv;
        const fs::path file = program == kHost ? fs::path(kHostCommand.front()) : program;
        for (std::size_t k = 0; program == kHost && k + 1 < kHostCommand.size(); ++k) {
            argv.push_back(const_cast<char *>(kHostCommand[k].c_str()));
        }
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &arg : args) {
            argv.push_back(const_cast<char *>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0600);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(directory.c_str()) != 0) {
            _exit(126);
        }
        execv(file.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

inline int waitForExit(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `program` to its end; `outFile` (default: a file read back) receives
// standard output, appended to with `append`.
inline Outcome runProgram(const fs::path &program, const std::vector<std::string> &args, const fs::path &directory,
                          const fs::path &outFile = {}, bool append = false) {
    const std::string id = std::to_string(getpid());
    const fs::path out = outFile.empty() ? fs::temp_directory_path() / ("su55if-host-out-" + id) : outFile;
    const fs::path errFile = fs::temp_directory_path() / ("su55if-host-err-" + id);
    Outcome outcome;
    outcome.exitCode = waitForExit(startProgram(program, args, directory, out, errFile, append));
    if (outFile.empty()) {
        outcome.out = readFile(out);
        fs::remove(out);
    }
    outcome.err = readFile(errFile);
    fs::remove(errFile);
    return outcome;
}

inline std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::istringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

// A test with its own scratch directory, removed afterwards.
class Host : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "su55if-host-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    Outcome host(const std::vector<std::string> &args, const fs::path &directory = {}) {
        return runProgram(kHost, args, directory.empty() ? dir_ : directory);
    }
    fs::path file(const std::string &name, const std::string &text) {
        writeFile(dir_ / name, text);
        return dir_ / name;
    }
    std::vector<std::string> leftInDirectory() const {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

}  // namespace su55if::test
