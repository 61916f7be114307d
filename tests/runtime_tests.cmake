# The runtime services without a toolkit: the regional date rules and what
# every host shares. Pure logic: also under the sanitizers.

# A scripted stand-in for the runtime services, for the purge and window tests too.
add_library(fakeruntime STATIC support/fake_runtime.cpp)
target_link_libraries(fakeruntime PUBLIC runtime)
target_include_directories(fakeruntime PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

jet_test(runtime_regional_dates_test runtime/regional_dates_test.cpp)
target_link_libraries(runtime_regional_dates_test PRIVATE runtime)
jet_test(runtime_services_test runtime/runtime_services_test.cpp)
target_link_libraries(runtime_services_test PRIVATE fakeruntime)
