// Backing for large images: transparent huge pages where the system offers them.
//
// A page of a few megapixels goes through tens of full-size working images. With
// 4 KiB pages the kernel takes a fault, and the processor a TLB miss, for every
// 4 KiB first touched; 2 MiB pages cut both by a factor of 512. Images below
// kHugePageBytes stay with OpenCV's own allocator.
#pragma once

#include <cstddef>
#include <opencv2/core.hpp>

namespace edgebin::cli {

class HugePageAllocator : public cv::MatAllocator {
  public:
    static constexpr size_t kHugePageBytes = size_t{2} << 20;

    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step,
                           cv::AccessFlag flags, cv::UMatUsageFlags usageFlags) const override;
    bool allocate(cv::UMatData* data, cv::AccessFlag accessFlags,
                  cv::UMatUsageFlags usageFlags) const override;
    void deallocate(cv::UMatData* data) const override;
};

// Makes `allocator` the default for new cv::Mat data while it lives, and restores the
// previous default afterwards. Images allocated meanwhile must be released before it
// goes.
class ScopedMatAllocator {
  public:
    explicit ScopedMatAllocator(cv::MatAllocator* allocator);
    ~ScopedMatAllocator();
    ScopedMatAllocator(const ScopedMatAllocator&) = delete;
    ScopedMatAllocator& operator=(const ScopedMatAllocator&) = delete;

  private:
    cv::MatAllocator* previous_;
};

}  // namespace edgebin::cli
