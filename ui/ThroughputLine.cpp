#include "ui/ThroughputLine.h"

std::string ThroughputLine(std::int64_t bytes, std::int64_t milliseconds) {
  std::string millis = std::to_string(milliseconds % 1000);
  millis.insert(0, 3 - millis.size(), '0');
  return std::to_string(bytes) + " octets transférés en " + std::to_string(milliseconds / 1000) + "." + millis +
         " secondes (" + std::to_string(bytes / milliseconds) + "Ko par seconde)";
}
