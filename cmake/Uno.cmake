# UNO C++ headers for the types the engine layer uses, generated with the SDK's cppumaker
# at build time (only the listed types and what they depend on).
set(LO_PROGRAM_DIR "/usr/lib/libreoffice/program" CACHE PATH "LibreOffice program folder")
set(LO_SDK_DIR "/usr/lib/libreoffice/sdk" CACHE PATH "LibreOffice SDK folder")
find_program(CPPUMAKER cppumaker HINTS ${LO_SDK_DIR}/bin REQUIRED)

set(UNO_TYPES
  com.sun.star.uno.*
  com.sun.star.lang.*
  com.sun.star.beans.PropertyValue
  com.sun.star.beans.NamedValue
  com.sun.star.beans.XPropertySet
  com.sun.star.beans.XPropertySetInfo
  com.sun.star.beans.PropertyAttribute
  com.sun.star.table.CellRangeAddress
  com.sun.star.beans.XPropertyContainer
  com.sun.star.bridge.XUnoUrlResolver
  com.sun.star.bridge.UnoUrlResolver
  com.sun.star.connection.NoConnectException
  com.sun.star.container.XNameAccess
  com.sun.star.container.XIndexAccess
  com.sun.star.container.XNamed
  com.sun.star.container.XNameContainer
  com.sun.star.document.MacroExecMode
  com.sun.star.document.UpdateDocMode
  com.sun.star.document.XDocumentPropertiesSupplier
  com.sun.star.document.XDocumentProperties
  com.sun.star.beans.PropertyAttribute
  com.sun.star.frame.Desktop
  com.sun.star.frame.XDesktop
  com.sun.star.frame.XDesktop2
  com.sun.star.util.XChangesBatch
  com.sun.star.frame.XComponentLoader
  com.sun.star.frame.XStorable
  com.sun.star.frame.XModel
  com.sun.star.frame.XController
  com.sun.star.lang.XComponent
  com.sun.star.lang.XMultiServiceFactory
  com.sun.star.lang.XMultiComponentFactory
  com.sun.star.lang.DisposedException
  com.sun.star.lang.IllegalArgumentException
  com.sun.star.io.IOException
  com.sun.star.task.XInteractionHandler
  com.sun.star.task.XInteractionAbort
  com.sun.star.task.XInteractionRequest
  com.sun.star.task.ErrorCodeIOException
  com.sun.star.uno.XComponentContext
  com.sun.star.uno.RuntimeException
  com.sun.star.util.XCloseable
  com.sun.star.util.XModifiable
  com.sun.star.util.XProtectable
  com.sun.star.util.XURLTransformer
  com.sun.star.configuration.theDefaultProvider
  com.sun.star.sheet.XSpreadsheetDocument
  com.sun.star.sheet.XSpreadsheets
  com.sun.star.sheet.XSpreadsheet
  com.sun.star.sheet.XSpreadsheetView
  com.sun.star.sheet.XPrintAreas
  com.sun.star.sheet.XCellRangeMovement
  com.sun.star.sheet.CellDeleteMode
  com.sun.star.sheet.XCellRangeAddressable
  com.sun.star.sheet.XCalculatable
  com.sun.star.sheet.XCellRangeFormula
  com.sun.star.sheet.XCellRangesQuery
  com.sun.star.sheet.XSheetCellRanges
  com.sun.star.sheet.CellFlags
  com.sun.star.style.XStyleFamiliesSupplier
  com.sun.star.style.XStyle
  com.sun.star.sheet.XHeaderFooterContent
  com.sun.star.table.XCellRange
  com.sun.star.table.XCell
  com.sun.star.text.XText
  com.sun.star.awt.Size
  com.sun.star.drawing.XDrawPageSupplier
  com.sun.star.drawing.XDrawPage
  com.sun.star.sheet.XSpreadsheets2
  com.sun.star.sheet.AddressConvention
  com.sun.star.sheet.FormulaLanguage
  com.sun.star.sheet.FormulaMapGroup
  com.sun.star.sheet.FormulaOpCodeMapEntry
  com.sun.star.sheet.XFormulaOpCodeMapper
  com.sun.star.sheet.XFormulaParser
  com.sun.star.sheet.XFormulaTokens
  com.sun.star.sheet.XSheetOperation
  com.sun.star.table.CellAddress
  com.sun.star.table.CellContentType
  com.sun.star.table.XColumnRowRange
  com.sun.star.table.XTableColumns
  com.sun.star.table.XTableRows
  com.sun.star.util.Date
  com.sun.star.util.NumberFormat
  com.sun.star.util.XNumberFormatTypes
  com.sun.star.util.XNumberFormats
  com.sun.star.util.XNumberFormatsSupplier
)
list(JOIN UNO_TYPES ";" UNO_TYPES_ARG)
set(UNO_GEN_DIR ${CMAKE_BINARY_DIR}/uno-headers)
set(UNO_STAMP ${UNO_GEN_DIR}/.stamp)
add_custom_command(OUTPUT ${UNO_STAMP}
  COMMAND ${CMAKE_COMMAND} -E remove_directory ${UNO_GEN_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${UNO_GEN_DIR}
  COMMAND ${CPPUMAKER} -O${UNO_GEN_DIR} "-T${UNO_TYPES_ARG}"
          ${LO_PROGRAM_DIR}/types.rdb ${LO_PROGRAM_DIR}/types/offapi.rdb
  COMMAND ${CMAKE_COMMAND} -E touch ${UNO_STAMP}
  DEPENDS ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Generating UNO headers with cppumaker"
  VERBATIM)
add_custom_target(gridmule_uno_headers DEPENDS ${UNO_STAMP})

find_library(UNO_CPPU uno_cppu HINTS ${LO_SDK_DIR}/lib ${LO_PROGRAM_DIR} REQUIRED)
find_library(UNO_CPPUHELPER uno_cppuhelpergcc3 HINTS ${LO_SDK_DIR}/lib ${LO_PROGRAM_DIR} REQUIRED)
find_library(UNO_SAL uno_sal HINTS ${LO_SDK_DIR}/lib ${LO_PROGRAM_DIR} REQUIRED)

add_library(gridmule_uno INTERFACE)
add_dependencies(gridmule_uno gridmule_uno_headers)
target_include_directories(gridmule_uno SYSTEM INTERFACE ${UNO_GEN_DIR} /usr/include/libreoffice)
target_compile_definitions(gridmule_uno INTERFACE LINUX UNX CPPU_ENV=gcc3)
target_link_libraries(gridmule_uno INTERFACE ${UNO_CPPU} ${UNO_CPPUHELPER} ${UNO_SAL})
# Programs find the UNO libraries, and the private libraries those load, in the engine's folder,
# installed or not; the build tree's other search paths are dropped on installation.
list(APPEND CMAKE_BUILD_RPATH ${LO_PROGRAM_DIR})
set(CMAKE_INSTALL_RPATH ${LO_PROGRAM_DIR})
