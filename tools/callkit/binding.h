// Where the nine procedures come from, for code that calls them: a library
// loaded at run time (the host's LoadedLibrary) or the one linked into the
// program (LinkedLibrary, for builds that carry the library inside them).
// Either way the library's records are captured call by call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "callkit/record_capture.h"
#include "su55if.h"

namespace su55if::callkit {

class Binding {
public:
    Binding() = default;
    Binding(const Binding &) = delete;
    Binding &operator=(const Binding &) = delete;
    virtual ~Binding() = default;

    // The export `name`; throws std::runtime_error when there is none.
    virtual su55if_procedure *resolve(std::string_view name) const = 0;

    // Told of each call as it starts and once it has returned: a caller that
    // loaded the library into its own process watches for one that ends the
    // process during a call.
    virtual void callStarting(std::string_view /*procedure*/) const {}
    virtual void callReturned() const {}

    // Where a call's records go while it runs (begin() before the call,
    // end() after), and everything captured so far, one record per line.
    RecordCapture &recordCapture() const { return capture_; }
    std::vector<std::string> records() const { return capture_.records(); }

private:
    mutable RecordCapture capture_;
};

// The library linked into this program: its nine exports by name.
class LinkedLibrary : public Binding {
public:
    su55if_procedure *resolve(std::string_view name) const override;
};

}  // namespace su55if::callkit
