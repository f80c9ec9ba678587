# The H.264 decode pipeline: the sequence parameter set reader is portable;
# the Media Foundation decoder and the pipeline that packs its pictures are Windows only.
brindle_library(brindle_decoder
  SOURCES decoded_frame.h h264_sps.h h264_sps.cpp
  WINDOWS_SOURCES h264_decoder_win.h h264_decoder_win.cpp h264_decoder_layout_win.h h264_decoder_layout_win.cpp
                  decode_pipeline_win.h decode_pipeline_win.cpp
  LIBS brindle_common brindle_pixels
  WINDOWS_LIBS mfplat mfuuid wmcodecdspuuid ole32)
