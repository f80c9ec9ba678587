# Dear ImGui with its Win32 and Direct3D 11 back ends, from the sources scripts/fetch-imgui.sh unpacks.
set(BRINDLE_IMGUI_DIR "${CMAKE_SOURCE_DIR}/third_party/imgui-1.90.1" CACHE PATH "Dear ImGui sources")
if(NOT EXISTS "${BRINDLE_IMGUI_DIR}/imgui.cpp")
  message(FATAL_ERROR "Dear ImGui sources not found in ${BRINDLE_IMGUI_DIR}: run scripts/setup.sh")
endif()
add_library(imgui STATIC
  ${BRINDLE_IMGUI_DIR}/imgui.cpp
  ${BRINDLE_IMGUI_DIR}/imgui_draw.cpp
  ${BRINDLE_IMGUI_DIR}/imgui_tables.cpp
  ${BRINDLE_IMGUI_DIR}/imgui_widgets.cpp
  ${BRINDLE_IMGUI_DIR}/backends/imgui_impl_win32.cpp
  ${BRINDLE_IMGUI_DIR}/backends/imgui_impl_dx11.cpp)
target_include_directories(imgui SYSTEM PUBLIC ${BRINDLE_IMGUI_DIR} ${BRINDLE_IMGUI_DIR}/backends)
target_compile_options(imgui PRIVATE -w)
# No gamepads: the window is driven by mouse and keyboard. Loading XInput also made Wine's
# xinput1_4 leave a thread running in the unloaded DLL at shut-down, which crashed the process.
target_compile_definitions(imgui PRIVATE IMGUI_IMPL_WIN32_DISABLE_GAMEPAD)
target_link_libraries(imgui PUBLIC d3d11 dxgi d3dcompiler dwmapi)
