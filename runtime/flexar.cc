// flexar: growth by doubling from a first block of four records. Sizes stay
// within 32-bit signed arithmetic, so a block that would need more than
// INT_MAX bytes is refused rather than computed with an overflow.
#include "runtime/flexar.h"

#include <climits>
#include <cstring>

#include "runtime/mem.h"
#include "runtime/text.h"

namespace {
constexpr int kTagChars = 30;
constexpr int kFirstCapacity = 4;
}  // namespace

flexar::flexar(int recSize, const char* tag)
    : storage_(nullptr),
      count_(0),
      recSize_(recSize < 1 ? 1 : recSize),
      capacity_(0),
      firstCapacity_(kFirstCapacity) {
  tag_[0] = '\0';
  setTag(tag);
}

flexar::~flexar() {
  char* block = storage_;
  storage_ = nullptr;
  // The mark tells a heap dump that the owner is gone.
  size_t len = strlen(tag_);
  if (len <= kTagChars) {
    tag_[len] = '!';
    tag_[len + 1] = '\0';
  }
  trFree(block, tag_);
}

void flexar::setTag(const char* tag) {
  if (tag != nullptr && tag[0] != '\0') {
    strzcpy(tag_, tag, kTagChars);
  } else {
    trf(tag_, kTagChars + 1, "F%ld", static_cast<long>(recSize_));
  }
}

int flexar::add(const void* rec) {
  if (rec == nullptr || !expand()) return 0;
  memcpy(storage_ + static_cast<size_t>(count_) * recSize_, rec, recSize_);
  return ++count_;
}

void* flexar::data(int index) {
  if (index < 0 || index >= count_) return nullptr;
  return storage_ + static_cast<size_t>(index) * recSize_;
}

int flexar::expand() {
  if (count_ < capacity_) return 1;
  if (capacity_ > INT_MAX / 2) return 0;
  int newCapacity = capacity_ < firstCapacity_ ? firstCapacity_ : capacity_ * 2;
  if (newCapacity > INT_MAX / recSize_) return 0;
  size_t bytes = static_cast<size_t>(newCapacity) * recSize_;
  char* block = static_cast<char*>(trAlloc(bytes, tag_));
  if (block == nullptr) return 0;
  if (storage_ != nullptr) {
    memcpy(block, storage_, static_cast<size_t>(count_) * recSize_);
    trFree(storage_, tag_);
  }
  storage_ = block;
  capacity_ = newCapacity;
  return 1;
}

void flexar::swap(flexar& other) {
  char* storage = storage_;
  int count = count_, capacity = capacity_, first = firstCapacity_;
  storage_ = other.storage_;
  count_ = other.count_;
  capacity_ = other.capacity_;
  firstCapacity_ = other.firstCapacity_;
  other.storage_ = storage;
  other.count_ = count;
  other.capacity_ = capacity;
  other.firstCapacity_ = first;
}

void flexar::reset() {
  trFree(storage_, tag_);
  storage_ = nullptr;
  count_ = 0;
  capacity_ = 0;
}
