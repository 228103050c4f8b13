#include "tiles/internal/row_halves.h"

#include "tiles/internal/helper_thread.h"

#include <thread>

namespace hgt {

Result<> InHalves(bool helper, std::int64_t rows, const std::function<Result<>(std::int64_t, std::int64_t)>& work)
{
    const std::int64_t middle = helper ? rows / 2 : 0;
    Result<> first;
    std::thread thread;
    if (middle > 0) {
        thread = TryStartThread([&] { first = work(0, middle); });
        if (!thread.joinable())
            return work(0, rows);
    }
    Result<> second = work(middle, rows);
    if (thread.joinable())
        thread.join();
    return first ? second : first;
}

} // namespace hgt
