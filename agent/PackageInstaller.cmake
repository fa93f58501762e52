# The installer agent's package engine: installer packages, receipts, backups,
# scripts and the reboot setting. No Qt; the agent daemon links it.
add_library(agent_package STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CommandRunner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InstallResult.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InstallerPackage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PackageInstaller.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PackagePaths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PackageReceipt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RebootCommand.cpp
)
target_include_directories(agent_package PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(agent_package PUBLIC platform fspace)
