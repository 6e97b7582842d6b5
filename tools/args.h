// Command-line reading shared by the tools: options written "--name value"
// or "--name=value", flags without a value, and whole decimal numbers.
#ifndef QZUCON_TOOLS_ARGS_H_
#define QZUCON_TOOLS_ARGS_H_

constexpr int kOptionNameChars = 31;  // longer names are cut, so they match nothing

// What a tool does with its arguments.
class optionSink {
 public:
  virtual ~optionSink() {}
  // Takes a flag such as "--quiet" (the whole argument); false when arg is
  // none of the tool's flags.
  virtual bool flag(const char* arg) = 0;
  // Takes the value of the option name ("rate" for "--rate"); false for an
  // unknown name or a bad value.
  virtual bool value(const char* name, const char* value) = 0;
};

// Hands argv[1..] to sink. Returns 1 when "--help" or "-h" is met (the rest
// is not read), 0 when every argument was taken, -1 otherwise with a reason
// in err (errSize bytes).
int parseOptions(int argc, const char* const* argv, optionSink* sink, char* err, int errSize);

// Reads a whole decimal number in [lo, hi]; false for anything else.
bool readLong(const char* s, long lo, long hi, long* out);

#endif  // QZUCON_TOOLS_ARGS_H_
