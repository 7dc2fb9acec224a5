// A client program built against the installed core only: its data module
// reads config.ini beside the executable and calls the attendance server it
// names (a plain method, the options record, a dataset list).
#include <cstdio>
#include <exception>
#include <string>

#include "client/dBaseCliente.h"
#include "rest/datasets/DataSetJSONReflect.h"

int main() {
  try {
    qvr::client::TdmBaseCliente dm;
    qvr::rest::TQVRServerMethodsClient& server = dm.Client();
    const std::string reversed = server.ReverseString("hola");
    dm.CargarOpciones();
    const auto clocks = server.ListaRelojes();
    const int count = clocks && clocks->Count() > 0 ? clocks->DataSet(0).RecordCount() : -1;
    std::printf("ReverseString: %s\nIDStatusDefault: %d\nRelojes: %d\n", reversed.c_str(),
                static_cast<int>(dm.Opciones().IDStatusDefault), count);
    return 0;
  } catch (const std::exception& AError) {
    std::fprintf(stderr, "consumer: %s\n", AError.what());
    return 1;
  }
}
