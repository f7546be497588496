// The one exception the engine throws: its message is shown to the user as it is.
#pragma once

#include <stdexcept>
#include <string>

namespace tavrin {

class SurfaceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace tavrin
