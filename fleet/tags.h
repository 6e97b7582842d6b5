// Server tags: short names ("eu", "pvp", "test-1") that group servers so
// that a command, a follow or a status can address a group. A server keeps
// its tags as one list text, names joined by commas ("eu,pvp"). Pure text
// work, shared by the console and qzuconctl; nothing here logs.
#ifndef QZUCON_FLEET_TAGS_H_
#define QZUCON_FLEET_TAGS_H_

constexpr int kTagChars = 32;  // one tag's name at most
constexpr int kTagsPerServer = 8;
// A server's whole list: every tag at its longest and the commas between.
constexpr int kTagListChars = kTagsPerServer * (kTagChars + 1) - 1;

// Whether name (len bytes) is a tag: 1 to kTagChars letters, digits, '-'
// and '_'.
bool tagNameValid(const char* name, int len);

// Adds the comma-separated names of value (blanks around each allowed) to
// list, which holds kTagListChars + 1 bytes; a name already there is not
// added twice. On a bad name nothing is added: false, with the name (cut to
// badSize - 1) in bad and the reason, a constant text, in *why.
bool tagListAdd(char* list, const char* value, char* bad, int badSize, const char** why);

// Whether the list holds name (exact, case matters).
bool tagListHas(const char* list, const char* name);

// Whether the two lists share a tag.
bool tagListsMeet(const char* list, const char* wanted);

#endif  // QZUCON_FLEET_TAGS_H_
