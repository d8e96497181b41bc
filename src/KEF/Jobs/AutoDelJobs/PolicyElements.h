#pragma once
// The texts of the children of the first Policy element of a job's data,
// read under the document's mutex so that another thread's selection cannot
// move between the select and the read. Texts come trimmed of surrounding
// white space, which the layout of a hand-written document adds.
#include <string>
#include <vector>

namespace KEF {

class BaseJobData;

class PolicyElements {
 public:
  // Reads nothing yet; `data` must outlive this object.
  explicit PolicyElements(BaseJobData& data) : data_(data) {}

  // Whether the data has a Policy element under its root.
  bool exists();
  // The texts of every `name` child of the first Policy, in document order.
  std::vector<std::string> all(const char* name);

 private:
  BaseJobData& data_;
};

}  // namespace KEF
