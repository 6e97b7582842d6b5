// The output queue of one control client: whole lines waiting to be written
// to a socket that may not take them now. It is bounded, and a slow reader
// costs itself lines, never the console its pace. Answers to requests are
// pushed only while there is room for them (the console writes long answers
// as the client reads), so they are never lost; lines a client follows are
// offered, and when they do not fit they are lost instead and counted, and
// the client is told how many ("dropped <n> lines"). A line that is partly
// written is always finished first.
#ifndef QZUCON_APP_CTLQUEUE_H_
#define QZUCON_APP_CTLQUEUE_H_

#include <cstdint>

constexpr int kCtlQueueBytes = 64 * 1024;
constexpr int kCtlLineMax = 4608;  // longer lines are cut (their '\n' kept)

// Takes up to len bytes: returns how many it took, 0 when it takes nothing
// now, -1 when the reader is gone.
typedef int (*ctlSink)(void* ctx, const char* data, int len);

class ctlqueue {
 public:
  ctlqueue() { reset(); }
  void reset();
  // Appends one line of len bytes that ends in '\n'. Should it not fit (the
  // caller checks room() first), the oldest lines make room and are counted.
  void push(const char* line, int len);
  // Appends one followed line when it fits beside a note of lost lines;
  // otherwise it is lost and counted.
  void offer(const char* line, int len);
  // Bytes free for lines.
  int room() const { return kCtlQueueBytes - len_; }
  // Hands the sink what it takes, in order. False when the sink reported the
  // reader gone.
  bool drain(ctlSink sink, void* ctx);
  bool empty() const { return len_ == 0 && partOff_ == partLen_ && dropped_ == 0; }
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
