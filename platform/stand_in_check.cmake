# Writes OUTPUT: a translation unit for the Windows builds that holds every
# constant, type and structure that the host stand-in declares in
# platform/platform.h against the real Windows headers, at compile time, so
# that the stand-in cannot drift from the platform.
#   cmake -DHEADER=platform/platform.h -DOUTPUT=stand_in_check.cpp -P stand_in_check.cmake
file(READ "${HEADER}" text)
string(FIND "${text}" "#else // host stand-in" begin)
string(FIND "${text}" "extern \"C\" {" end)
if(begin LESS 0 OR end LESS begin)
  message(FATAL_ERROR "${HEADER}: no stand-in section found")
endif()
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${text}" ${begin} ${length} text)
# One list element per line: ";" would split lines, so it travels as "@S@".
string(REPLACE ";" "@S@" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(constants "")
set(types "")
set(structs "")
set(sizes "")
set(block "")
set(depth 0)
foreach(line IN LISTS lines)
  string(REPLACE "@S@" ";" line "${line}")
  if(depth GREATER 0 OR line MATCHES "^typedef (struct|union|enum) [A-Za-z_]+ {$")
    # A structure: copied whole into namespace standin; its size, and the
    # offset and size of each plain member, compared. An enumeration: its
    # size, and the value of each enumerator it names.
    string(APPEND block "${line}\n")
    if(line MATCHES "{")
      math(EXPR depth "${depth} + 1")
    endif()
    if(line MATCHES "^    [A-Za-z_][A-Za-z0-9_ ]*[ *]([A-Za-z_][A-Za-z0-9_]*);$" AND depth EQUAL 1)
      list(APPEND members "${CMAKE_MATCH_1}")
    endif()
    if(line MATCHES "^    ([A-Za-z_][A-Za-z0-9_]*) = [^,]+,$" AND depth EQUAL 1)
      list(APPEND enumerators "${CMAKE_MATCH_1}")
    endif()
    if(line MATCHES "^ *}")
      math(EXPR depth "${depth} - 1")
      if(depth EQUAL 0)
        string(REGEX MATCH "^} ([A-Za-z_][A-Za-z0-9_]*)" name "${line}")
        set(name "${CMAKE_MATCH_1}")
        string(APPEND structs "${block}")
        string(APPEND sizes "static_assert(sizeof(standin::${name}) == sizeof(::${name}), \"${name}\");\n")
        foreach(member IN LISTS members)
          string(APPEND sizes "static_assert(offsetof(standin::${name}, ${member}) == offsetof(::${name}, ${member}) && sizeof(standin::${name}::${member}) == sizeof(::${name}::${member}), \"${name}::${member}\");\n")
        endforeach()
        foreach(enumerator IN LISTS enumerators)
          string(APPEND sizes "static_assert(static_cast<long long>(standin::${enumerator}) == static_cast<long long>(::${enumerator}), \"${enumerator}\");\n")
        endforeach()
        set(block "")
        set(members "")
        set(enumerators "")
      endif()
    endif()
  elseif(line MATCHES "^#define ([A-Za-z_][A-Za-z0-9_]*) (.+)$")
    set(name "${CMAKE_MATCH_1}")
    set(value "${CMAKE_MATCH_2}")
    # Pointer values (HKEY_LOCAL_MACHINE, INVALID_HANDLE_VALUE) are no
    # compile-time constants.
    if(NOT value MATCHES "\\((HKEY|HANDLE)\\)")
      string(APPEND constants "static_assert(Same(${name}, ${value}), \"${name}\");\n")
    endif()
  elseif(line MATCHES "^typedef ([^,(]+[ *])([A-Za-z_][A-Za-z0-9_]*);$")
    string(STRIP "${CMAKE_MATCH_1}" type)
    set(name "${CMAKE_MATCH_2}")
    string(APPEND types "static_assert(SameKind<::${name}, ${type}>(), \"${name}\");\n")
  endif()
endforeach()

file(WRITE "${OUTPUT}.new" "// Generated from platform/platform.h by platform/stand_in_check.cmake.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <winsvc.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {

// Constants compare by their 32 bits: the stand-in spells some with another
// type (MSI_NULL_INTEGER as an int), never with another value.
template <typename A, typename B> constexpr bool Same(A real, B standIn) {
    return static_cast<std::uint32_t>(real) == static_cast<std::uint32_t>(standIn) &&
           static_cast<long long>(real) >= -2147483648LL && static_cast<long long>(real) <= 0xFFFFFFFFLL;
}

// Types compare by size, and by signedness unless one is an enumeration.
template <typename Real, typename StandIn> constexpr bool SameKind() {
    return sizeof(Real) == sizeof(StandIn) &&
           (std::is_enum<Real>::value || std::is_enum<StandIn>::value ||
            std::is_signed<Real>::value == std::is_signed<StandIn>::value);
}

} // namespace

namespace standin {
${structs}} // namespace standin

${constants}
${types}
${sizes}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
