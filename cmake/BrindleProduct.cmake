# The product as Windows shows it (version information, manifest, installer), with the one
# version number every binary and the installer carry: the project's.
set(BRINDLE_PRODUCT_NAME "Brindle Video")
set(BRINDLE_PUBLISHER "Brindle Video")
set(BRINDLE_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string(REPLACE "." "," BRINDLE_VERSION_COMMAS "${BRINDLE_VERSION_QUAD}")
