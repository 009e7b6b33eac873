# Copies the parts of three.js the studio's page uses. The page loads no import
# map (the page's policy allows scripts from files only), so the controls'
# bare 'three' imports are pointed at the copied module.
file(MAKE_DIRECTORY ${OUT})
foreach(name three.module.js three.core.js)
  configure_file(${THREE}/build/${name} ${OUT}/${name} COPYONLY)
endforeach()
configure_file(${THREE}/LICENSE ${OUT}/three-LICENSE.txt COPYONLY)
foreach(name OrbitControls.js TransformControls.js)
  file(READ ${THREE}/examples/jsm/controls/${name} text)
  string(REPLACE "\n} from 'three';" "\n} from './three.module.js';" text "${text}")
  if(text MATCHES "\n(import|export|})[^\n]* from '[^.]")
    message(FATAL_ERROR "${name}: an import other than 'three' is left; the studio's page cannot load it")
  endif()
  file(WRITE ${OUT}/${name} "${text}")
endforeach()
