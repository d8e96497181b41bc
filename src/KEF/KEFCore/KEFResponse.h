#pragma once
// A response document: the XML a status report carries to the owner of a
// request.
//
//   <KEFResponse><ServiceStatus ServiceID=".." Status=".." ResponseType=".."
//     Server=".." UnsolNotify="..">status text</ServiceStatus></KEFResponse>
//
// The status text is an XML fragment, normally a StatusText element (whose
// text is the message and which may hold a Detail element) or a
// ServiceStatusResp document. Values are inserted as given, without
// escaping: a value holding markup makes the construction fail with the XML
// reader's error.
//
// Getters leave their out-parameter unchanged when the element they read is
// missing. A response is used by one thread at a time.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace tvan {
class XmlDOM;
}

class KEFResponse {
 public:
  // A document parsed from `xml`; an empty document when `xml` is null.
  explicit KEFResponse(const char* xml);
  // Builds the document from its parts. A null `server` gives "KEF", a null
  // `unsolNotify` gives "None"; the other four must not be null.
  KEFResponse(const char* respType, const char* serviceID, const char* status,
              const char* statusText, const char* server, const char* unsolNotify);
  virtual ~KEFResponse();

  KEFResponse(const KEFResponse&) = delete;
  KEFResponse& operator=(const KEFResponse&) = delete;

  // The document written out from its root.
  void createMsg(std::string& out);

  // Attributes of the first ServiceStatus (empty when it lacks one).
  void getServiceID(std::string& out);
  void getStatus(std::string& out);
  void getRespType(std::string& out);
  void getServer(std::string& out);
  // The text of ServiceStatus, of its StatusText, and of StatusText's Detail.
  void getStatusValue(std::string& out);
  void getStatusText(std::string& out);
  void getDetail(std::string& out);
  // True when the first ServiceStatus has Global="y" (exactly).
  bool isGlobal();
  // Only for a global response: the texts under ServiceStatus/GlobalMsgHeader.
  void getGlobalMsgClient(std::string& out);
  void getGlobalMsgSource(std::string& out);
  void getGlobalMsgType(std::string& out);

 protected:
  // The path helpers on this response's document, for derived responses.
  // getValue with fromRoot resolves the path from the root element; a missing
  // value clears `value` (stores 0), or, when required, throws the text
  // "Exception! Required job data unfound <path>" (a const char*).
  // setValue sets the index-th match or appends an element named by the path
  // under the active node.
  int goToNode(const char* path, int index, bool fromRoot, bool makeFirstActive);
  int getValue(const char* path, std::string& value, bool required, int index, bool fromRoot,
               bool unused);
  int getValue(const char* path, int& value, bool required, int index, bool fromRoot,
               bool unused);
  void setValue(const char* path, const char* value, int index, bool fromRoot, bool makeActive);
  void setValue(const char* path, int value, int index, bool fromRoot, bool makeActive);

  tvan::XmlDOM* document;  // owned

 private:
  // Selects ServiceStatus and then each child step below it; false at the
  // first missing element.
  bool select(std::initializer_list<const char*> steps);
  void readAttribute(const char* name, std::string& out);
  void readText(std::initializer_list<const char*> steps, std::string& out);

  int32_t reserved;  // kept for derived responses; 0
};
