#include "KEF/AutoDelService/AutoDelService.h"

#include <memory>

#include "Base/Log/Log.h"
#include "KEF/AutoDelService/AutoDelController.h"
#include "KEF/AutoDelService/AutoDelData.h"

namespace KEF {

AutoDelService::AutoDelService() : autoDelData(nullptr) {}

AutoDelService::~AutoDelService() = default;

void AutoDelService::initialize(char* serviceData) {
  if (log != nullptr) log->setComponentName("AUTODELETE");
  // Until both exist and are handed over, a failure must not leave a
  // half-made object behind for the destructor.
  auto data = std::make_unique<AutoDelData>();
  data->initializeServiceData(serviceData);
  autoDelData = data.release();
  jobData = static_cast<AutoDelJobData*>(autoDelData);

  auto* autoDelController = new AutoDelController(autoDelData, threadManager, log);
  autoDelController->initialize();
  controller = autoDelController;
}

}  // namespace KEF
