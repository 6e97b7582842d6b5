// bfc: a text file that opens itself on first use and closes when the object
// dies. Failures to open are silent (the caller sees end of file, or 0 written)
// and every later operation tries again.
#ifndef QZUCON_RUNTIME_BFC_H_
#define QZUCON_RUNTIME_BFC_H_

#include <cstdio>

constexpr int kFileNameChars = 255;  // longest file name a bfc opens

// Turns every '\' of name into '/', in place: the names a bfc opens.
void fixFileName(char* name);

class bfc {
 public:
  // The name is formatted from fmt (pass "%s" and a ready-made name to take it
  // literally), cut to 255 characters, with every '\' turned into '/'. The
  // mode (stdio, at most 31 characters) is used on the first open.
  bfc(const char* mode, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  ~bfc();
  bfc(const bfc&) = delete;
  bfc& operator=(const bfc&) = delete;

  int open();   // 1 when open (already or now), 0 when it cannot be opened
  int close();  // 1 when closed cleanly or not open, 0 when close reported an error
  // Reads one line (at most max-1 characters) into buffer, which is emptied
  // first. strip removes every CR/LF at its end. Returns 0 at end of file,
  // on error, when the file cannot be opened, and when max < 2 (no room for a
  // character; buffer is left untouched when max < 1); else 1.
  int rdln(char* buffer, int max, int strip);
  // vfprintf's result, or 0 when the file cannot be opened.
  int wrtf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // 1 on success, 0 when the seek failed, -1 when the file cannot be opened.
  int setpos(long offset, int whence);

  const char* name() const { return name_; }

 private:
  char name_[kFileNameChars + 1];
  char mode_[32];
  FILE* stream_;
};

#endif  // QZUCON_RUNTIME_BFC_H_
