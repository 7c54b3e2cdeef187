# varik-meter: the simulated meter as a program of its own, for trying the
# window (or any serial client) without a device.
qt_add_executable(varik-meter ${CMAKE_CURRENT_LIST_DIR}/meter_main.cpp)
target_link_libraries(varik-meter PRIVATE varik_sim Qt6::Core)
