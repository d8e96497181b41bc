#include "Host/ExceptionText.h"

#include <exception>

#include "Base/BaseTypes/Error.h"

namespace kefhost {

std::string currentExceptionText() {
  try {
    throw;
  } catch (const tvan::Error& error) {
    return error.keystring();
  } catch (const char* text) {
    return text != nullptr ? text : "unknown error";
  } catch (const std::string& text) {
    return text;
  } catch (const std::exception& exception) {
    return exception.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace kefhost
