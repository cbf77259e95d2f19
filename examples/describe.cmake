# Writes the description of the bundled update source from its template, with
# the name, size, MD5 and file:// address of each built package.
#   cmake -DTEMPLATE=in -DOUTPUT=out -DSOFTWARE=zip -DFIRMWARE=zip -P describe.cmake

# Every byte but the unreserved ones and "/" is percent-encoded, which also
# keeps the address intact inside an XML attribute.
function(file_url path out)
    string(LENGTH "${path}" length)
    math(EXPR last "${length} - 1")
    set(url "file://")
    foreach(index RANGE ${last})
        string(SUBSTRING "${path}" ${index} 1 byte)
        if(byte MATCHES "^[A-Za-z0-9/._~-]$")
            string(APPEND url "${byte}")
        else()
            string(HEX "${byte}" hex)
            string(TOUPPER "${hex}" hex)
            string(APPEND url "%${hex}")
        endif()
    endforeach()
    set(${out} "${url}" PARENT_SCOPE)
endfunction()

function(describe_package prefix package)
    get_filename_component(name "${package}" NAME)
    file(SIZE "${package}" size)
    file(MD5 "${package}" md5)
    file_url("${package}" url)
    set(${prefix}_FILENAME "${name}" PARENT_SCOPE)
    set(${prefix}_SIZE "${size}" PARENT_SCOPE)
    set(${prefix}_MD5 "${md5}" PARENT_SCOPE)
    set(${prefix}_URL "${url}" PARENT_SCOPE)
endfunction()

describe_package(SOFTWARE "${SOFTWARE}")
describe_package(FIRMWARE "${FIRMWARE}")
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
