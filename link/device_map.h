#pragma once
// Which device file stands for "COM N" on this machine.

#include <string>

namespace tolvan {

// $TOLVAN_COM<N> when set and non-empty; else a "COM<N>=<path>" line of
// ports.conf in the working directory; else /dev/ttyS<N-1>.
std::string comDevicePath(int portNumber);

}  // namespace tolvan
