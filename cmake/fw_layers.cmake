# The layers' include folders. Code names a header as "layer/name.h". Each layer's target gets
# an include folder of its own, in the build folder, that holds one link: layer -> its source
# folder. The folder is PUBLIC, so a target sees its own layer and, through the PUBLIC links
# between the layers, the ones below it, and nothing else: an include that runs up a layer
# does not compile. scripts/check-layers.sh checks the same rule without a build.
function(fw_layer_includes target scope layer)
  set(dir ${CMAKE_BINARY_DIR}/layer_includes/${layer})
  if(NOT IS_SYMLINK ${dir}/${layer})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${layer} ${dir}/${layer} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${dir})
endfunction()
