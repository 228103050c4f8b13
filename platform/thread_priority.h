#pragma once

namespace hgt {

// Lowers the calling thread's priority below the program's other threads, for work that must not
// hold up a run (on Linux the nice value, which is per thread there, goes to 10). Once per thread.
void LowerThreadPriority();

} // namespace hgt
