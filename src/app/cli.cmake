qt_add_executable(varik-cli
    cli_main.cpp
    cli_commands.cpp cli_commands.h
    cli_operator.cpp cli_operator.h
)
target_link_libraries(varik-cli PRIVATE varik_link varik_data varik_files Qt6::Core)
