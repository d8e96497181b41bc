#include "KEF/AutoDelService/AutoDelData.h"

#include "Base/XML/XmlDOM.h"

namespace KEF {

AutoDelData::AutoDelData() : serviceDataDom(nullptr) {}

AutoDelData::~AutoDelData() {
  delete serviceDataDom;
  serviceDataDom = nullptr;
}

void AutoDelData::initializeServiceData(char* serviceData) {
  serviceDataDom = new tvan::XmlDOM(serviceData, false);
  AutoDelJobData::initialize(serviceDataDom);
  SendMsgJobData::initialize(serviceDataDom);
}

}  // namespace KEF
