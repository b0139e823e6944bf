# Helpers shared by the folders' CMakeLists.

# Links the core with one device layer and the platform layer of this build.
# DEVICE is one of km4r_device_virtual, km4r_device_hidraw, km4r_device_null,
# km4r_device_win32.
function(km4r_link_runtime target device)
  target_link_libraries(${target} PRIVATE km4r_core ${device} km4r_platform)
endfunction()
