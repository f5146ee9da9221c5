# The daemon's source lists, read by this folder's build and by the fuzz
# build (which builds the driver logic alone). Paths are absolute so that
# either may include this file.
set(_vantrelio_src ${CMAKE_CURRENT_LIST_DIR}/src)

# The driver logic: the control actions, the board device, the requests to
# the USB host layer and the socket server.
set(vantrelio_driver_sources
    ${_vantrelio_src}/actions/BulkExchange.cpp
    ${_vantrelio_src}/actions/DescriptorActions.cpp
    ${_vantrelio_src}/actions/DeviceActions.cpp
    ${_vantrelio_src}/actions/DownloadActions.cpp
    ${_vantrelio_src}/actions/IsoActions.cpp
    ${_vantrelio_src}/actions/PipeActions.cpp
    ${_vantrelio_src}/actions/VendorActions.cpp
    ${_vantrelio_src}/device/BoardDevice.cpp
    ${_vantrelio_src}/device/BoardDeviceState.cpp
    ${_vantrelio_src}/device/BoardStart.cpp
    ${_vantrelio_src}/device/ByteRing.cpp
    ${_vantrelio_src}/device/ChannelLocks.cpp
    ${_vantrelio_src}/device/ExchangeTrace.cpp
    ${_vantrelio_src}/device/FairLock.cpp
    ${_vantrelio_src}/device/PipeTable.cpp
    ${_vantrelio_src}/server/AccessPolicy.cpp
    ${_vantrelio_src}/server/ConnectionQuota.cpp
    ${_vantrelio_src}/server/ControlServer.cpp
    ${_vantrelio_src}/server/RequestCodec.cpp
    ${_vantrelio_src}/usb/ConfigDescriptorRead.cpp
    ${_vantrelio_src}/usb/IsoRequests.cpp
    ${_vantrelio_src}/usb/IsoStreamRunner.cpp
    ${_vantrelio_src}/usb/UrbSubmit.cpp
    ${_vantrelio_src}/usb/UsbRequests.cpp)

# Plug and play (which loads the firmware) and the daemon's command line.
set(vantrelio_daemon_sources
    ${_vantrelio_src}/daemon/DaemonOptions.cpp
    ${_vantrelio_src}/daemon/GroupLookup.cpp
    ${_vantrelio_src}/daemon/RunAsUser.cpp
    ${_vantrelio_src}/daemon/ServiceManager.cpp
    ${_vantrelio_src}/device/DeviceManager.cpp
    ${_vantrelio_src}/device/FirmwareLoads.cpp)

# The simulated boards of `vantrelio --simulate` and their console.
set(vantrelio_sim_sources
    ${_vantrelio_src}/sim/SimConsoleHandler.cpp
    ${_vantrelio_src}/sim/SimulatedBoards.cpp
    ${_vantrelio_src}/sim/SimulatedBus.cpp)
