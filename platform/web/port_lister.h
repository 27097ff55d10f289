// The ports the person granted to the page (navigator.serial.getPorts()), by names a person
// can tell apart: a USB adapter by its vendor and product ids, numbered when two are alike.
#pragma once

#include <string>
#include <vector>

#include "link/port_lister.h"

namespace morva {

class WebPortLister : public PortLister {
 public:
  // The names as the page listed them when it last asked the browser.
  std::vector<std::string> listPorts() override;
};

}  // namespace morva
