#include "system/sensor.hpp"

int main()
{
    kestrane::Accelerometer accelerometer;
    return 0;
}
