# Dear ImGui from the sources scripts/lib/fetch-imgui.sh unpacks: `imgui_core`, its portable core (the
# font atlas is tested natively under the sanitizers too), and on Windows `imgui`, the core with
# its Win32 and Direct3D 11 back ends.
set(BRINDLE_IMGUI_DIR "${CMAKE_SOURCE_DIR}/third_party/imgui-1.90.1" CACHE PATH "Dear ImGui sources")
if(NOT EXISTS "${BRINDLE_IMGUI_DIR}/imgui.cpp")
  message(FATAL_ERROR "Dear ImGui sources not found in ${BRINDLE_IMGUI_DIR}: run scripts/setup.sh")
endif()

set(imgui_core_sources imgui.cpp imgui_draw.cpp imgui_tables.cpp imgui_widgets.cpp)
list(TRANSFORM imgui_core_sources PREPEND "${BRINDLE_IMGUI_DIR}/")
add_library(imgui_core STATIC ${imgui_core_sources})
target_include_directories(imgui_core SYSTEM PUBLIC ${BRINDLE_IMGUI_DIR})
target_compile_options(imgui_core PRIVATE -w)

if(WIN32)
  add_library(imgui STATIC
    ${BRINDLE_IMGUI_DIR}/backends/imgui_impl_win32.cpp
    ${BRINDLE_IMGUI_DIR}/backends/imgui_impl_dx11.cpp)
  target_include_directories(imgui SYSTEM PUBLIC ${BRINDLE_IMGUI_DIR}/backends)
  target_compile_options(imgui PRIVATE -w)
  # No gamepads: the window is driven by mouse and keyboard. Loading XInput also made Wine's
  # xinput1_4 leave a thread running in the unloaded DLL at shut-down, which crashed the process.
  target_compile_definitions(imgui PRIVATE IMGUI_IMPL_WIN32_DISABLE_GAMEPAD)
  target_link_libraries(imgui PUBLIC imgui_core d3d11 dxgi d3dcompiler dwmapi)
endif()
