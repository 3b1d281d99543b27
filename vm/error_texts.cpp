// The Spanish descriptions of the general error codes and fatal errors.
#include "vm/error.h"

namespace xb {

const char* errorDescription(uint32_t code) {
    switch (code) {
    case 1: return "Error de argumento";
    case 2: return "Error de rango";
    case 3: return "Desbordamiento en cadena de caracteres";
    case 4: return "Desbordamiento num\xE9rico";
    case 5: return "Divisi\xF3n por cero";
    case 6: return "Error num\xE9rico";
    case 7: return "Error de sintaxis";
    case 8: return "Operaci\xF3n demasiado compleja";
    case 11: return "Poca memoria";
    case 12: return "Funci\xF3n no definida";
    case 13: return "No existe el m\xE9todo";
    case 14: return "No existe la variable";
    case 15: return "No existe el alias";
    case 16: return "No existe la variable de instancia";
    case 17: return "Alias con caracteres no v\xE1lidos";
    case 18: return "Alias actualmente en uso";
    case 20: return "Error de creaci\xF3n";
    case 21: return "Error de apertura";
    case 22: return "Error de cierre";
    case 23: return "Error de lectura";
    case 24: return "Error de escritura";
    case 25: return "Error de impresi\xF3n";
    case 30: return "Operaci\xF3n no soportada";
    case 31: return "L\xEDmite excedido";
    case 32: return "Se detect\xF3 corrupci\xF3n";
    case 33: return "Error de tipo de datos";
    case 34: return "Error de anchura de datos";
    case 35: return "Area de trabajo no usada";
    case 36: return "Area de trabajo no indexada";
    case 37: return "Se requiere uso exclusivo";
    case 38: return "Se requiere bloqueo";
    case 39: return "Escritura no autorizada";
    case 40: return "Fallo en el bloqueo de adici\xF3n";
    case 41: return "Fallo en bloqueo";
    case 667:
    case 668:
    case 669: return "Fallo en la pila de evaluaci\xF3n";
    case 9997: return "Fallo en la recuperaci\xF3n de un error";
    case 9998: return "Error no recuperable";
    default: return "Error interno";
    }
}

}  // namespace xb
