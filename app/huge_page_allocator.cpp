#include "app/huge_page_allocator.h"

#include <sys/mman.h>

#include <memory>

namespace edgebin::cli {

namespace {

size_t RoundUp(size_t bytes, size_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

// Large blocks come straight from the kernel so that they can be marked for huge
// pages before their first touch; the mark is only advice and may be ignored.
void* AllocateBlock(size_t bytes) {
    if (bytes < HugePageAllocator::kHugePageBytes) {
        return cv::fastMalloc(bytes);
    }
    const size_t mapped = RoundUp(bytes, HugePageAllocator::kHugePageBytes);
    void* block = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        throw std::bad_alloc();
    }
    madvise(block, mapped, MADV_HUGEPAGE);
    return block;
}

void FreeBlock(void* block, size_t bytes) {
    if (bytes < HugePageAllocator::kHugePageBytes) {
        cv::fastFree(block);
    } else {
        munmap(block, RoundUp(bytes, HugePageAllocator::kHugePageBytes));
    }
}

}  // namespace

cv::UMatData* HugePageAllocator::allocate(int dims, const int* sizes, int type, void* data,
                                          size_t* step, cv::AccessFlag /*flags*/,
                                          cv::UMatUsageFlags /*usageFlags*/) const {
    // Steps and total size as OpenCV's standard allocator lays them out.
    size_t total = CV_ELEM_SIZE(type);
    for (int i = dims - 1; i >= 0; --i) {
        if (step != nullptr) {
            if (data != nullptr && step[i] != cv::Mat::AUTO_STEP) {
                total = step[i];
            } else {
                step[i] = total;
            }
        }
        total *= static_cast<size_t>(sizes[i]);
    }
    auto record = std::make_unique<cv::UMatData>(this);
    uchar* bytes =
        data != nullptr ? static_cast<uchar*>(data) : static_cast<uchar*>(AllocateBlock(total));
    record->data = bytes;
    record->origdata = bytes;
    record->size = total;
    if (data != nullptr) {
        record->flags |= cv::UMatData::USER_ALLOCATED;
    }
    return record.release();  // owned by the Mat; returned through deallocate
}

bool HugePageAllocator::allocate(cv::UMatData* data, cv::AccessFlag /*accessFlags*/,
                                 cv::UMatUsageFlags /*usageFlags*/) const {
    return data != nullptr;
}

void HugePageAllocator::deallocate(cv::UMatData* data) const {
    if (data == nullptr) {
        return;
    }
    const std::unique_ptr<cv::UMatData> record(data);
    CV_Assert(record->urefcount == 0 && record->refcount == 0);
    if ((record->flags & cv::UMatData::USER_ALLOCATED) == 0) {
        FreeBlock(record->origdata, record->size);
        record->origdata = nullptr;
    }
}

ScopedMatAllocator::ScopedMatAllocator(cv::MatAllocator* allocator)
    : previous_(cv::Mat::getDefaultAllocator()) {
    cv::Mat::setDefaultAllocator(allocator);
}

ScopedMatAllocator::~ScopedMatAllocator() {
    cv::Mat::setDefaultAllocator(previous_);
}

}  // namespace edgebin::cli
