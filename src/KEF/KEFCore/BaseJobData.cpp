#include "KEF/KEFCore/BaseJobData.h"

#include <ace/Task.h>

#include <ctime>
#include <string>
#include <type_traits>

#include <boost/format.hpp>

#include "Base/System/FunctionMutex.h"
#include "Base/XML/XMLUtils.h"
#include "Base/XML/XmlDOM.h"

// The header's forward declarations must name ACE's own task type; a
// mismatch (another namespace, another template) fails here rather than at a
// caller's cast.
static_assert(std::is_base_of_v<ACE_Task_Base, KEF::BaseJobData::MasterTask>,
              "MasterTask is not ACE's task over ACE_MT_SYNCH");
static_assert(std::is_same_v<KEF::BaseJobData::MasterTask, ACE_Task<ACE_MT_SYNCH>>,
              "MasterTask differs from ACE's default-policy task");

namespace KEF {

namespace {

const char kServiceStatus[] = "ServiceStatus";

// Text of the first `name` under the root; the framework's read defaults.
int readFirst(tvan::XmlDOM* document, const char* name, std::string& value) {
  return tvan::getValue(document, name, value, false, 0, true, true);
}

// Overwrites the first `name` under the root or creates one there.
void writeFirst(tvan::XmlDOM* document, const char* name, const char* value) {
  tvan::setValue(document, name, value, 0, true, true);
}

// Selects the ServiceStatus elements from the root (the first made active)
// and returns their number.
int selectStatus(tvan::XmlDOM* document) {
  document->resetActiveToRoot();
  int count = 0;
  document->findNodes(kServiceStatus, count, true);
  return count;
}

// Replaces all `count` selected ServiceStatus elements by one new element
// with `text` under the root, which becomes the active node.
void recreateStatus(tvan::XmlDOM* document, int count, const char* text) {
  if (count > 0) document->removeNode(-1);
  document->resetActiveToRoot();
  document->createNode(kServiceStatus, text, true, -1);
}

}  // namespace

BaseJobData::BaseJobData() : document_(nullptr), currentIdx_(0), idxCount_(1) {}

BaseJobData::~BaseJobData() = default;

void BaseJobData::initialize(tvan::XmlDOM* document) { document_ = document; }

void BaseJobData::update() {}

void BaseJobData::injectData(const char* xml) {
  tvan::FunctionMutex guard(document_->mutex);
  document_->resetActiveToRoot();
  document_->pasteFragment(xml, -1);
}

int BaseJobData::getServiceID(std::string& value) {
  tvan::FunctionMutex guard(document_->mutex);
  return readFirst(document_, "ServiceID", value);
}

int BaseJobData::getClientID(std::string& value) {
  tvan::FunctionMutex guard(document_->mutex);
  return readFirst(document_, "ClientID", value);
}

int BaseJobData::getParentID(std::string& value) {
  tvan::FunctionMutex guard(document_->mutex);
  return readFirst(document_, "ParentID", value);
}

int BaseJobData::getServiceName(std::string& value) {
  tvan::FunctionMutex guard(document_->mutex);
  return readFirst(document_, "ServiceName", value);
}

int BaseJobData::getEventCB(std::string& value) {
  tvan::FunctionMutex guard(document_->mutex);
  return readFirst(document_, "EventCB", value);
}

int BaseJobData::getChildID(std::string& value, int index) {
  tvan::FunctionMutex guard(document_->mutex);
  const int count = tvan::getValue(document_, "ChildID", value, false, index, true, true);
  if (count != 0) return count;
  // A service without children is its own child: fall back to its ID, which
  // must then exist.
  return tvan::getValue(document_, "ServiceID", value, true, 0, true, true);
}

int BaseJobData::getMasterPtr(MasterTask*& task) {
  tvan::FunctionMutex guard(document_->mutex);
  void* address = nullptr;
  const int found = tvan::getClassPointer(document_, "MasterMgr", "ServiceManager", address, 0);
  if (found != 0) task = static_cast<MasterTask*>(address);
  return found;
}

int BaseJobData::getStatusMsg(std::string& status, std::string& text) {
  tvan::FunctionMutex guard(document_->mutex);
  const int count = selectStatus(document_);
  if (count > 0) {
    document_->getNodeValue(text, -1);
    document_->getAttribute("Status", status, 0);
  }
  return count;
}

std::string BaseJobData::getRequestUID() {
  tvan::FunctionMutex guard(document_->mutex);
  std::string uid;
  readFirst(document_, "uid", uid);
  return uid;
}

void BaseJobData::setServiceName(const char* name) {
  tvan::FunctionMutex guard(document_->mutex);
  writeFirst(document_, "ServiceName", name);
}

void BaseJobData::setParentID(const char* id) {
  tvan::FunctionMutex guard(document_->mutex);
  writeFirst(document_, "ParentID", id);
}

void BaseJobData::setChildID(const char* id) {
  tvan::FunctionMutex guard(document_->mutex);
  writeFirst(document_, "ChildID", id);
}

void BaseJobData::setChildID(const char* first, const char* second, const char* unique) {
  std::string stamp;
  if (unique == nullptr) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    stamp = (boost::format("%1%.%2%") % now.tv_sec % (now.tv_nsec / 1000000)).str();
    unique = stamp.c_str();
  }
  const std::string id = (boost::format("%1%|%2%|%3%") % (first != nullptr ? first : "") %
                          (second != nullptr ? second : "") % unique)
                             .str();
  tvan::FunctionMutex guard(document_->mutex);
  writeFirst(document_, "ChildID", id.c_str());
}

void BaseJobData::setStatusMsg(const char* status, const char* text) {
  tvan::FunctionMutex guard(document_->mutex);
  std::string serviceID;
  if (readFirst(document_, "ServiceID", serviceID) == 0) return;
  const int count = selectStatus(document_);
  if (count == 1) {
    document_->setNodeValue(text, -1);
  } else {
    recreateStatus(document_, count, text);
  }
  document_->setAttribute("ServiceID", serviceID.c_str());
  document_->setAttribute("Status", status);
}

void BaseJobData::setStatusMsg(const char* status) {
  tvan::FunctionMutex guard(document_->mutex);
  std::string serviceID;
  if (readFirst(document_, "ServiceID", serviceID) == 0) return;
  const int count = selectStatus(document_);
  if (count == 1) {
    document_->setAttribute("Status", status);
    return;
  }
  recreateStatus(document_, count, "OK");
  document_->setAttribute("ServiceID", serviceID.c_str());
  document_->setAttribute("Status", status);
}

void BaseJobData::removeStatus() {
  if (tvan::goToNode(document_, kServiceStatus, 0, true, true) > 0) document_->removeNode(-1);
}

void BaseJobData::dump(std::string& out) {
  tvan::FunctionMutex guard(document_->mutex);
  document_->dump(out, true, false);
}

int BaseJobData::goToNode(const char* path, int index, bool fromRoot, bool makeFirstActive) {
  return tvan::goToNode(document_, path, index, fromRoot, makeFirstActive);
}

int BaseJobData::getValue(const char* path, std::string& value, bool required, int index,
                          bool fromRoot, bool makeFirstActive) {
  return tvan::getValue(document_, path, value, required, index, fromRoot, makeFirstActive);
}

int BaseJobData::getValue(const char* path, int& value, bool required, int index, bool fromRoot,
                          bool makeFirstActive) {
  return tvan::getValue(document_, path, value, required, index, fromRoot, makeFirstActive);
}

void BaseJobData::setValue(const char* path, const char* value, int index, bool fromRoot,
                           bool makeActive) {
  tvan::setValue(document_, path, value, index, fromRoot, makeActive);
}

void BaseJobData::setValue(const char* path, int value, int index, bool fromRoot,
                           bool makeActive) {
  tvan::setValue(document_, path, value, index, fromRoot, makeActive);
}

void BaseJobData::setClassPointer(const char* path, const char* classType, void* pointer) {
  tvan::setClassPointer(document_, path, classType, pointer);
}

int BaseJobData::getClassPointer(const char* path, const char* classType, void*& pointer,
                                 int index) {
  return tvan::getClassPointer(document_, path, classType, pointer, index);
}

void BaseJobData::removeClassPointer(const char* path) {
  tvan::removeClassPointer(document_, path);
}

bool BaseJobData::setIdx(int i) {
  if (i >= idxCount_) return false;
  currentIdx_ = i;
  return true;
}

}  // namespace KEF
