#pragma once
// Zeroed memory for a picture's pixels. A large picture takes fresh pages from the system,
// which come zeroed, in huge pages where the system gives them: a view-sized canvas then
// costs neither a clearing pass nor a page fault for every 4 KiB.

#include <cstddef>
#include <cstdint>

namespace rt {

class TPixelStore {
public:
    TPixelStore() = default;
    explicit TPixelStore(std::size_t bytes);
    ~TPixelStore();
    TPixelStore(const TPixelStore& other);
    TPixelStore& operator=(const TPixelStore& other);
    TPixelStore(TPixelStore&& other) noexcept;
    TPixelStore& operator=(TPixelStore&& other) noexcept;

    uint8_t* data() { return Base; }
    const uint8_t* data() const { return Base; }
    std::size_t size() const { return Bytes; }

private:
    void Free() noexcept;
    uint8_t* Base = nullptr;
    std::size_t Bytes = 0;
    std::size_t Length = 0; // of the map; 0 for heap memory
};

} // namespace rt
