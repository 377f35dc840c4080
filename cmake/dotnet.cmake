# The .NET binding (dotnet/, docs/dotnet.md), compiled with Mono's C# compiler
# when it is found: target dotnet, build/<dir>/dotnet/ORQExtClient.Net.dll,
# installed as component dotnet. The assembly is plain IL, the same for every
# platform, so the Windows builds make it as well and put it into their zip.
# Users elsewhere build dotnet/ORQExtClient.Net.csproj with the .NET SDK.
find_program(ORQ_MCS mcs)
find_program(ORQ_DOTNET_SDK dotnet)
if(ORQ_MCS)
  message(STATUS ".NET binding: Mono's mcs (${ORQ_MCS}) builds ORQExtClient.Net.dll (target dotnet)")
else()
  message(STATUS ".NET binding: no mcs (Mono), target dotnet not built")
endif()
if(ORQ_DOTNET_SDK)
  message(STATUS ".NET binding: .NET SDK (${ORQ_DOTNET_SDK}): dotnet build/pack dotnet/ORQExtClient.Net.csproj (scripts/test-dotnet.sh)")
else()
  message(STATUS ".NET binding: no .NET SDK (dotnet) found; the NuGet package needs it")
endif()
if(ORQ_MCS)
  file(GLOB ORQ_DOTNET_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/dotnet/src/*.cs)
  set(ORQ_DOTNET_DIR ${CMAKE_BINARY_DIR}/dotnet)
  set(ORQ_DOTNET_ASSEMBLY ${ORQ_DOTNET_DIR}/ORQExtClient.Net.dll)
  # The /// comments, for IntelliSense beside the assembly.
  set(ORQ_DOTNET_DOC ${ORQ_DOTNET_DIR}/ORQExtClient.Net.xml)
  configure_file(dotnet/AssemblyInfo.cs.in ${ORQ_DOTNET_DIR}/AssemblyInfo.cs @ONLY)
  add_custom_command(OUTPUT ${ORQ_DOTNET_ASSEMBLY} ${ORQ_DOTNET_DOC}
    COMMAND ${ORQ_MCS} -nologo -langversion:7 -target:library -unsafe -optimize+ -warnaserror+
            -nowarn:1591 -doc:${ORQ_DOTNET_DOC} -out:${ORQ_DOTNET_ASSEMBLY} ${ORQ_DOTNET_DIR}/AssemblyInfo.cs ${ORQ_DOTNET_SOURCES}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/dotnet/ORQExtClient.Net.dll.config ${ORQ_DOTNET_DIR}/
    DEPENDS ${ORQ_DOTNET_SOURCES} ${ORQ_DOTNET_DIR}/AssemblyInfo.cs dotnet/ORQExtClient.Net.dll.config
    COMMENT "Compiling ORQExtClient.Net.dll with mcs"
    VERBATIM)
  add_custom_target(dotnet ALL DEPENDS ${ORQ_DOTNET_ASSEMBLY})
  if(WIN32)
    install(FILES ${ORQ_DOTNET_ASSEMBLY} ${ORQ_DOTNET_DOC} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT dotnet)
  else()
    # Beside libORQExtClient.so.1, where Mono looks first; the .config maps
    # the library's name to its SONAME.
    install(FILES ${ORQ_DOTNET_ASSEMBLY} ${ORQ_DOTNET_DOC} ${ORQ_DOTNET_DIR}/ORQExtClient.Net.dll.config
      DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dotnet)
  endif()
endif()
