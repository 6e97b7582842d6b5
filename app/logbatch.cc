// The pass batch of the log writer: where the messages wait, per file.
#include "app/logbatch.h"

#include <cstring>

#include "runtime/text.h"

void logbatch::reset() {
  clear();
  held_ = false;
  stampKept_ = false;
  stampSecs_ = 0;
  stamp_[0] = 0;
}

void logbatch::clear() { files_ = entries_ = textLen_ = screenLen_ = 0; }

int logbatch::fileOf(const char* name) {
  uint32_t h = textHash(name);
  // Newest first: a server's lines tend to come in runs.
  for (int f = files_ - 1; f >= 0; f--) {
    if (file_[f].hash == h && strcmp(file_[f].name, name) == 0) return f;
  }
  if (files_ == kBatchFiles) return -1;
  file& n = file_[files_];
  strzcpy(n.name, name, kFileNameChars);
  n.hash = h;
  n.first = n.last = -1;
  return files_++;
}

bool logbatch::add(const char* name, const char* text, int entryLen, const char* screen,
                   int screenLen) {
  bool toFile = name[0] != 0;
  if (screen == nullptr) screenLen = 0;
  if (screenLen_ + screenLen > kBatchScreen) return false;
  if (toFile && (entries_ == kBatchEntries || textLen_ + entryLen > kBatchText)) return false;
  int f = toFile ? fileOf(name) : -1;
  if (toFile && f < 0) return false;
  if (screenLen > 0) memcpy(screen_ + screenLen_, screen, static_cast<size_t>(screenLen));
  screenLen_ += screenLen;
  if (!toFile) return true;
  entry& e = entry_[entries_];
  e.off = textLen_;
  e.len = entryLen;
  e.next = -1;
  memcpy(text_ + textLen_, text, static_cast<size_t>(entryLen));
  textLen_ += entryLen;
  if (file_[f].last >= 0) entry_[file_[f].last].next = entries_;
  if (file_[f].first < 0) file_[f].first = entries_;
  file_[f].last = entries_++;
  return true;
}

int logbatch::pieces(int f, iovec* out) const {
  int n = 0;
  for (int e = file_[f].first; e >= 0; e = entry_[e].next) {
    out[n].iov_base = const_cast<char*>(text_ + entry_[e].off);
    out[n].iov_len = static_cast<size_t>(entry_[e].len);
    n++;
  }
  return n;
}

void logbatch::keepStamp(time_t secs, const char* stamp) {
  strzcpy(stamp_, stamp, kStampChars);
  stampSecs_ = secs;
  stampKept_ = true;
}

int skipWritten(iovec* iov, int n, size_t done) {
  int k = 0;
  while (k < n && done >= iov[k].iov_len) done -= iov[k++].iov_len;
  if (k < n) {
    iov[k].iov_base = static_cast<char*>(iov[k].iov_base) + done;
    iov[k].iov_len -= done;
  }
  return k;
}
