// A ring of whole lines. The ring always begins at a line's start, so the
// oldest line can be dropped without looking back; what is left of a line a
// short write cut moves to part_.
#include "app/ctlqueue.h"

#include <cstring>

#include "ctlproto/words.h"
#include "runtime/text.h"

void ctlqueue::reset() {
  head_ = len_ = 0;
  partLen_ = partOff_ = 0;
  dropped_ = 0;
  droppedTotal_ = 0;
}

void ctlqueue::dropOldest() {
  int n = 0;
  while (n < len_ && buf_[(head_ + n) % kCtlQueueBytes] != '\n') n++;
  if (n < len_) n++;
  head_ = (head_ + n) % kCtlQueueBytes;
  len_ -= n;
  dropped_++;
  droppedTotal_++;
}

void ctlqueue::append(const char* data, int len) {
  int tail = (head_ + len_) % kCtlQueueBytes;
  int first = len < kCtlQueueBytes - tail ? len : kCtlQueueBytes - tail;
  memcpy(buf_ + tail, data, first);
  memcpy(buf_, data + first, len - first);
  len_ += len;
}

void ctlqueue::push(const char* line, int len) {
  bool cut = len > kCtlLineMax;
  if (cut) len = kCtlLineMax;
  while (len_ + len > kCtlQueueBytes) dropOldest();
  append(line, cut ? len - 1 : len);
  if (cut) append("\n", 1);
}

void ctlqueue::offer(const char* line, int len) {
  // Room is kept for one overlong line, cut, so answers pushed next fit.
  if (len_ + (len > kCtlLineMax ? kCtlLineMax : len) + kCtlLineMax > kCtlQueueBytes) {
    dropped_++;
    droppedTotal_++;
    return;
  }
  push(line, len);
}

// Takes n bytes off the ring's head; when that ends inside a line, the rest
// of the line moves to part_ so that the ring starts at a line again.
void ctlqueue::consume(int n) {
  bool lineEnded = buf_[(head_ + n - 1) % kCtlQueueBytes] == '\n';
  head_ = (head_ + n) % kCtlQueueBytes;
  len_ -= n;
  if (lineEnded) return;
  partOff_ = partLen_ = 0;
  while (len_ > 0 && partLen_ < kCtlLineMax) {
    char c = buf_[head_];
    part_[partLen_++] = c;
    head_ = (head_ + 1) % kCtlQueueBytes;
    len_--;
    if (c == '\n') break;
  }
}

bool ctlqueue::sendPart(ctlSink sink, void* ctx, bool* stalled) {
  int n = sink(ctx, part_ + partOff_, partLen_ - partOff_);
  if (n > 0) partOff_ += n;
  *stalled = n == 0;
  return n >= 0;
}

bool ctlqueue::drain(ctlSink sink, void* ctx) {
  for (bool stalled = false; !stalled;) {
    if (partOff_ < partLen_) {
      if (!sendPart(sink, ctx, &stalled)) return false;
      continue;
    }
    if (dropped_ > 0) {
      partOff_ = 0;
      partLen_ = trf(part_, sizeof part_, "%s %lu lines\n", kAnsDropped,
                     static_cast<unsigned long>(dropped_));
      dropped_ = 0;
      continue;
    }
    if (len_ == 0) return true;
    int chunk = len_ < kCtlQueueBytes - head_ ? len_ : kCtlQueueBytes - head_;
    int n = sink(ctx, buf_ + head_, chunk);
    if (n < 0) return false;
    stalled = n == 0;
    if (n > 0) consume(n);
  }
  return true;
}
