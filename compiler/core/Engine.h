// A compiler the library can run: libsass through its worker, Dart Sass
// through its embedded protocol.
//
// Shared by both engines; nothing here is exported.
#pragma once

#include "Conversion.h"

namespace VantorCompiler {

class Engine {
public:
    virtual ~Engine();

    // "libsass 3.6.5"; never starts a process.
    virtual const char* version() const = 0;
    // Null when the engine can run here as far as can be told without starting
    // it, else why not; never starts a process.
    virtual const char* unavailable() = 0;
    // Null when the engine writes this output style code, else why not.
    virtual const char* refusesStyle(std::int32_t style) const = 0;
    // Converts request.input, which it may take over; fills conversion.
    virtual void convert(ConversionRequest& request, Conversion& conversion) = 0;
    // Takes back what convert() lent the conversion (conversion.lender is
    // this engine), just before the conversion is released.
    virtual void giveBack(Conversion& conversion);
};

}  // namespace VantorCompiler
