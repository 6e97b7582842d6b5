// flexar: a growable array of fixed-size plain records, copied in byte for
// byte. It only grows (capacities 0, 4, 8, 16, ...); growing moves the records,
// so pointers from data() are valid until the next add() that grows.
#ifndef QZUCON_RUNTIME_FLEXAR_H_
#define QZUCON_RUNTIME_FLEXAR_H_

class flexar {
 public:
  // recSize below 1 is stored as 1. Allocates nothing.
  flexar(int recSize, const char* tag);
  ~flexar();
  flexar(const flexar&) = delete;
  flexar& operator=(const flexar&) = delete;

  // Keeps at most 30 characters; an empty tag becomes "F<record size>".
  void setTag(const char* tag);
  // Copies one record in. Returns the new count, or 0 for a null record or
  // when memory is exhausted (the array is then unchanged).
  int add(const void* rec);
  int nodes() const { return count_; }
  // Record index, or null when index is outside 0..nodes()-1.
  void* data(int index);
  // 1 when there is room for one more record, 0 when it cannot be made.
  int expand();
  // Releases the storage and returns to the just-constructed state, keeping
  // the record size and tag. Used by program-start resets in tests.
  void reset();
  // Exchanges the records of two arrays of one record size (a list built
  // beside this one takes its place at once).
  void swap(flexar& other);

  int capacity() const { return capacity_; }
  const char* tag() const { return tag_; }

 private:
  char* storage_;
  int count_;
  int recSize_;
  int capacity_;
  int firstCapacity_;
  char tag_[32];
};

#endif  // QZUCON_RUNTIME_FLEXAR_H_
