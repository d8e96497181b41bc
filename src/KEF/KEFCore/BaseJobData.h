#pragma once
// BaseJobData: the base of every job's data. It holds no values of its own:
// the data lives in one XmlDOM document (the service data the host handed to
// the service), which several data objects may share. BaseJobData offers
// named accessors for the framework's elements, all direct children of the
// document's root:
//
//   ServiceID      identifier of the service request this job works for
//   ClientID       identifier of the client
//   ParentID       identifier of the parent service
//   ChildID        identifier of a child service (may repeat)
//   ServiceName    the service's name
//   EventCB        event callback text
//   uid            key of the request in the request database
//   MasterMgr      address of the service manager task (a class pointer
//                  element with ClassType "ServiceManager")
//   ServiceStatus  status text; attributes ServiceID and Status
//
// and forwards the XML path helpers (Base/XML/XMLUtils.h) for everything else.
//
// Ownership and lifetime: the document is not owned. The concrete data class
// that owns it creates it, hands it to initialize() once before any other
// call, and destroys it after every data object that uses it. Calling any
// accessor before initialize() is a caller error.
//
// Threads: jobs use their data on the controller thread while the service
// answers the host on the host's threads. injectData, the named accessors
// (getServiceID to setStatusMsg) and dump hold the document's re-entrant mutex
// across their whole select-then-read or select-then-write sequence, so each
// is atomic with respect to other threads. removeStatus, the forwarding path
// helpers and the index operations take no lock: a caller that mixes them with
// accessors on other threads holds `document->mutex` itself.
//
// Failures: absent elements are results (getters return 0 and leave their
// out-parameters unchanged; nothing is created by a getter). Document
// failures and the path helpers' `const char*` texts pass through unchanged;
// the mutex is released as they leave.
#include <string>

// The service manager is an ACE task over a thread mutex and its condition.
// Declared here rather than included so that users of job data need not see
// ACE; BaseJobData.cpp checks these declarations against ACE's own.
class ACE_MT_SYNCH;
class ACE_System_Time_Policy;
template <typename Synch, typename TimePolicy>
class ACE_Task;

namespace tvan {
class XmlDOM;
}

namespace KEF {

class BaseJobData {
 public:
  // The task type of the service manager stored in MasterMgr.
  using MasterTask = ACE_Task<ACE_MT_SYNCH, ACE_System_Time_Policy>;

  // Current index 0, index count 1, no document yet.
  BaseJobData();
  // Leaves the document alone.
  virtual ~BaseJobData();

  // Stores the document (not owned; must outlive this object). No lock.
  // Derived classes extend it and call it first.
  virtual void initialize(tvan::XmlDOM* document);

  // A hook for derived classes; does nothing here.
  virtual void update();

  // Pastes an XML fragment (a list of elements) into the root element.
  // Malformed text fails as the document's pasteFragment does.
  virtual void injectData(const char* xml);

  // Text of the first element of that name under the root. Each returns the
  // number of such elements; 0 leaves `value` unchanged.
  int getServiceID(std::string& value);
  int getClientID(std::string& value);
  int getParentID(std::string& value);
  int getServiceName(std::string& value);
  int getEventCB(std::string& value);

  // Text of the index-th ChildID; returns the number of ChildID elements (an
  // index beyond them leaves `value` unchanged). Without any ChildID reads
  // ServiceID instead and returns its count; when that is missing too, prints
  // the path helpers' diagnostics and throws the `const char*`
  // "Exception! Required job data unfound, location 1".
  int getChildID(std::string& value, int index);

  // Address of the service manager task from MasterMgr. Returns 1 when the
  // element exists with ClassType "ServiceManager"; otherwise 0 and `task` is
  // unchanged. The address is only read, never dereferenced.
  int getMasterPtr(MasterTask*& task);

  // Status attribute and text of the first ServiceStatus. Returns the number
  // of ServiceStatus elements; 0 leaves both strings unchanged.
  int getStatusMsg(std::string& status, std::string& text);

  // Text of uid, or an empty string.
  std::string getRequestUID();

  // Overwrite the first element of that name, or create one under the root.
  void setServiceName(const char* name);
  void setParentID(const char* id);
  void setChildID(const char* id);

  // Writes ChildID := "first|second|unique" as above. A null `unique` is
  // replaced by the current time as "<seconds since 1970>.<milliseconds>",
  // the milliseconds without leading zeros; two calls within one millisecond
  // therefore write the same text. A null `first` or `second` is written as
  // empty text.
  void setChildID(const char* first, const char* second, const char* unique);

  // Leaves exactly one ServiceStatus directly under the root, with text
  // `text` and attributes ServiceID (the data's ServiceID) and Status.
  // Several ServiceStatus elements are replaced by a new one. Does nothing
  // when the data has no ServiceID.
  void setStatusMsg(const char* status, const char* text);

  // As above but keeps the text and ServiceID attribute of a single existing
  // ServiceStatus, changing only Status; a new element gets the text "OK".
  void setStatusMsg(const char* status);

  // Removes every ServiceStatus. No lock.
  void removeStatus();

  // The whole document as text, from the root.
  void dump(std::string& out);

  // The path helpers of Base/XML/XMLUtils.h on this object's document, with
  // the same arguments, defaults and failures. No lock.
  int goToNode(const char* path, int index = 0, bool fromRoot = true,
               bool makeFirstActive = true);
  int getValue(const char* path, std::string& value, bool required = false, int index = 0,
               bool fromRoot = true, bool makeFirstActive = true);
  int getValue(const char* path, int& value, bool required = false, int index = 0,
               bool fromRoot = true, bool makeFirstActive = true);
  void setValue(const char* path, const char* value, int index = 0, bool fromRoot = true,
                bool makeActive = true);
  void setValue(const char* path, int value, int index = 0, bool fromRoot = true,
                bool makeActive = true);
  void setClassPointer(const char* path, const char* classType, void* pointer);
  int getClassPointer(const char* path, const char* classType, void*& pointer, int index = 0);
  void removeClassPointer(const char* path);

  // Index of the data set the job works on next, among `getIdxCount()` sets.
  // The state machine advances it after each run of the job and multiplies a
  // state's status steps by the count. Not locked: used by the controller
  // thread only.

  // Sets the current index when i < the index count (signed comparison) and
  // returns true; otherwise returns false and changes nothing.
  bool setIdx(int i);
  int getCurrentIdx() const { return currentIdx_; }
  void advanceIdx() { ++currentIdx_; }
  int getIdxCount() const { return idxCount_; }
  void setIdxCount(int count) { idxCount_ = count; }

  // The document given to initialize() (null before). Callers that combine
  // unlocked operations hold its mutex.
  tvan::XmlDOM* getDocument() const { return document_; }

 private:
  tvan::XmlDOM* document_;  // not owned; null until initialize()
  int currentIdx_;
  int idxCount_;  // exclusive upper bound of setIdx
};

}  // namespace KEF
