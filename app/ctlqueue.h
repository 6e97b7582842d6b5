// The output queue of one control client: whole lines waiting to be written
// to a socket that may not take them now. It is bounded: when a client does
// not read, the oldest whole lines make room for new ones and the client is
// told how many it lost ("dropped <n> lines") where they went missing, so a
// slow reader costs itself lines and never the console its pace. A line that
// is partly written is always finished first.
#ifndef QZUCON_APP_CTLQUEUE_H_
#define QZUCON_APP_CTLQUEUE_H_

#include <cstdint>

constexpr int kCtlQueueBytes = 64 * 1024;
constexpr int kCtlLineMax = 4608;  // longer lines are cut (their '\n' kept)

// Takes up to len bytes: returns how many it took, 0 when it takes nothing
// now, -1 when the reader is gone.
typedef int (*ctlSink)(void* ctx, const char* data, int len);

class lineq {
 public:
  lineq() { reset(); }
  void reset();
  // Appends one line of len bytes that ends in '\n'.
  void push(const char* line, int len);
  // Hands the sink what it takes, in order. False when the sink reported the
  // reader gone.
  bool drain(ctlSink sink, void* ctx);
  bool empty() const { return len_ == 0 && partOff_ == partLen_ && dropped_ == 0; }
  // Bytes that push can still take without dropping a line.
  int room() const { return kCtlQueueBytes - len_; }
  // Lines dropped since reset, for the metrics.
  uint64_t droppedTotal() const { return droppedTotal_; }

 private:
  void dropOldest();
  void append(const char* data, int len);
  void consume(int n);
  bool sendPart(ctlSink sink, void* ctx, bool* stalled);

  char buf_[kCtlQueueBytes];
  int head_;
  int len_;
  // The rest of a line cut by a short write, or the note of lost lines.
  char part_[kCtlLineMax + 64];
  int partLen_;
  int partOff_;
  uint32_t dropped_;  // lines lost since the last note
  uint64_t droppedTotal_;
};

#endif  // QZUCON_APP_CTLQUEUE_H_
