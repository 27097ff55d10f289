// The picture of the main window for the README: a firmware image part-way into the
// simulated Vk350, rendered without a display.
#pragma once

#include <string>

#include "transfer/file_service.h"
#include "transfer/serial_port.h"

namespace morva::qt {

// Runs the program against the simulator on `simulatorPort`: a Write of a generated firmware
// image from the menus, and at block `block` the main window is rendered into the PNG `file`.
// 0 when the picture was written; failures are told on stderr.
int renderScreenshot(const std::string& simulatorPort, const std::string& file, SerialPort& port,
                     FileService& files, int block = 187);

}  // namespace morva::qt
