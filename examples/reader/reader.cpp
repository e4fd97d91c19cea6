// reader TABLE.dat FIELD1 FIELD2: opens a table read-only and prints two
// fields of every record, separated by a tab.
#include <engine/Engine.h>
#include <moneytable/Tamblor.h>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: reader TABLE.dat FIELD1 FIELD2\n";
        return 2;
    }
    engine::RegisterEngineServer();  // once, before any table opens
    try {
        TMoneyTable Table(nullptr);
        Table.SetFileName(argv[1]);
        Table.SetReadOnly(true);
        Table.Open();
        TField* First = Table.FieldByName(argv[2]);
        TField* Second = Table.FieldByName(argv[3]);
        for (Table.First(); !Table.Eof(); Table.Next())
            std::cout << First->AsString() << '\t' << Second->AsString() << '\n';
    } catch (const std::exception& E) {  // EBFError, EDatabaseError, EOleException ...
        std::cerr << "reader: " << E.what() << '\n';
        return 1;
    }
    return 0;
}
