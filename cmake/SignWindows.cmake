# Signs FILE (an exe or an MSI) in place with osslsigncode, when a certificate
# is given; without one, the file stays unsigned and nothing is said.
#   cmake -DFILE=path -P SignWindows.cmake
# The certificate comes from the environment, never from the source tree:
#   KESTREL_SIGN_CERT      the certificate (chain), PEM or DER
#   KESTREL_SIGN_KEY       its private key
#   KESTREL_SIGN_PASSWORD  the key's password, if it has one (optional)
#   KESTREL_SIGN_TIMESTAMP a time-stamping server's URL (optional)
if(NOT DEFINED ENV{KESTREL_SIGN_CERT} OR "$ENV{KESTREL_SIGN_CERT}" STREQUAL "")
  return()
endif()
if("$ENV{KESTREL_SIGN_KEY}" STREQUAL "")
  message(FATAL_ERROR "KESTREL_SIGN_CERT is set but KESTREL_SIGN_KEY is not")
endif()
find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "a certificate is given but osslsigncode is not installed (scripts/install-deps windows)")
endif()

set(signed "${FILE}.signed")
set(command ${OSSLSIGNCODE} sign -certs "$ENV{KESTREL_SIGN_CERT}" -key "$ENV{KESTREL_SIGN_KEY}" -h sha256
            -n "Kestrel Loader")
if(NOT "$ENV{KESTREL_SIGN_PASSWORD}" STREQUAL "")
  list(APPEND command -pass "$ENV{KESTREL_SIGN_PASSWORD}")
endif()
if(NOT "$ENV{KESTREL_SIGN_TIMESTAMP}" STREQUAL "")
  list(APPEND command -ts "$ENV{KESTREL_SIGN_TIMESTAMP}")
endif()
file(REMOVE "${signed}")
execute_process(COMMAND ${command} -in "${FILE}" -out "${signed}" RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE "${signed}")
  message(FATAL_ERROR "signing ${FILE} failed: ${output}")
endif()
file(RENAME "${signed}" "${FILE}")
