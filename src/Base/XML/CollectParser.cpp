#include "Base/XML/CollectParser.h"

#include "Base/XML/XMLParser.h"

CollectParser::CollectParser(XMLParser* parser) : parser_(parser) {}

CollectParser::~CollectParser() {
  delete parser_;
  parser_ = nullptr;
}
