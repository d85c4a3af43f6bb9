# lv_embed(OUT_VAR SYMBOL FILE): generates a source file that holds FILE's bytes as
#   extern const unsigned char SYMBOL[]; extern const unsigned long SYMBOL_size;
# and appends its path to OUT_VAR. The file is read at configure time; changing it reconfigures.
function(lv_embed out_var symbol file)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  set(source "${CMAKE_CURRENT_BINARY_DIR}/${symbol}.cpp")
  file(WRITE "${source}.tmp"
       "// Generated from ${file}.\n"
       "extern const unsigned char ${symbol}[] = {${bytes}};\n"
       "extern const unsigned long ${symbol}_size = ${size};\n")
  file(COPY_FILE "${source}.tmp" "${source}" ONLY_IF_DIFFERENT)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
  set(${out_var} ${${out_var}} "${source}" PARENT_SCOPE)
endfunction()
