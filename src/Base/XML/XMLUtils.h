#pragma once
// Path helpers: read and write single values of an XmlDOM by path.
//
// Every function works on the calling thread's active node and selection of
// the document: it may reset the active node to the root (fromRoot), selects
// the matches of `path` with findNodes, and leaves the active node and the
// selection where its last document call put them. They take no lock of their
// own; hold `dom->mutex` around a call when another thread may move the
// document's selection count in between. `dom` is never null.
//
// Failures of the document (invalid document, bad index, null path) pass
// through unchanged. A missing required value prints diagnostics and throws
// a `const char*` text.
#include <string>

namespace tvan {

class XmlDOM;

// Selects path; when something matched, the index-th match becomes active.
// Returns the number of matches.
int goToNode(XmlDOM* dom, const char* path, int index = 0, bool fromRoot = true,
             bool makeFirstActive = true);

// Reads the text of the index-th match (index -1: the active node, even when
// nothing matched). A missing value leaves `value` untouched, or, when
// required, throws "Exception! Required job data unfound, location 1".
// Returns the number of matches.
int getValue(XmlDOM* dom, const char* path, std::string& value, bool required = false,
             int index = 0, bool fromRoot = true, bool makeFirstActive = true);

// As above, converted with atoi; a missing value that is not required sets
// `value` to 0; a missing required one throws
// "Exception! Required job data unfound, location 2".
int getValue(XmlDOM* dom, const char* path, int& value, bool required = false, int index = 0,
             bool fromRoot = true, bool makeFirstActive = true);

// Overwrites the text of the index-th match, or, when there is no such match,
// creates an element named `path` under the active node (the root when
// nothing matched and fromRoot, else the first match).
void setValue(XmlDOM* dom, const char* path, const char* value, int index = 0,
              bool fromRoot = true, bool makeActive = true);
void setValue(XmlDOM* dom, const char* path, int value, int index = 0, bool fromRoot = true,
              bool makeActive = true);

// Stores an object's address as the element `path` under the root with the
// attributes Pointer ("0x" + lower-case hex, full 64-bit width) and
// ClassType. Replaces every earlier element of that path.
void setClassPointer(XmlDOM* dom, const char* path, const char* classType, void* pointer);

// Makes the active element a class pointer: its Pointer and ClassType
// attributes as setClassPointer writes them.
void setClassPointerAttributes(XmlDOM* dom, const char* classType, const void* pointer);

// Removes every class pointer element of that path.
void removeClassPointer(XmlDOM* dom, const char* path);

// Reads the address stored by setClassPointer when its ClassType equals
// classType exactly: returns 1 and sets `pointer`; otherwise returns 0 and
// leaves `pointer` as it was.
int getClassPointer(XmlDOM* dom, const char* path, const char* classType, void*& pointer,
                    int index = 0);

// Replaces control bytes (below 0x20 and 0x7F..0xA0) by '_'; with fileSafe
// also \ / : * ? " < > | and every byte from 0x7F up. The length is kept.
void normalizeData(std::string& text, bool fileSafe);

}  // namespace tvan
