#pragma once

#include <string>

namespace hgt {

// What a running engine needs from its window: the progress list, a yield to the event queue,
// and the one button an engine may enable. List operations are only called with a valid index;
// the run report checks the index first.
class RunHost {
public:
    virtual ~RunHost() = default;

    virtual int listCount() const = 0;
    virtual void listInsert(int index, const std::string& text) = 0; // 0 <= index <= count
    virtual void listRemove(int index) = 0;                          // 0 <= index < count
    virtual void yieldToEvents() = 0;
    virtual void enableCommand1() = 0;
};

} // namespace hgt
