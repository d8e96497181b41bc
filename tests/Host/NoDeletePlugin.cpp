// A plug-in that exports create_service but not delete_service.
namespace KEF {
class BaseService;
}

extern "C" __attribute__((visibility("default"))) KEF::BaseService* create_service() {
  return nullptr;
}
