qt_add_executable(varik WIN32
    window_main.cpp
)
target_link_libraries(varik PRIVATE varik_console varik_sim Qt6::Widgets)
