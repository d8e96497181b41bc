#pragma once
// The closing job of a workflow: reports the closing totals of the service
// (the Totals element its data holds) as a DONE status, sends them
// to the parent service when the data names one, sets the request's status
// to "DONE" ("ERROR" when the last pass failed) and sends "SENDMSG_DONE".
#include "KEF/KEFCore/BaseJob.h"

namespace KEF {

class SendMsgJobData;

class SendMsgJob : public BaseJob {
 public:
  static const char kDoneTrigger[];  // "SENDMSG_DONE"

  SendMsgJob(BaseController* controller, SendMsgJobData* data, tvan::Log* log);
  ~SendMsgJob() override;

  void execute2() override;

 protected:
  SendMsgJobData* sendMsgJobData;  // the same object as `data`; not owned
};

}  // namespace KEF
