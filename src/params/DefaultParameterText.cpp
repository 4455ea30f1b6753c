// The built-in parameter text: what a copy of the program uses when nothing
// has been merged into its parameter area, and what the default file holds.
#include "params/Parameter.h"

namespace ofs {

const std::vector<std::string>& defaultParameterText() {
  static const std::vector<std::string> text = {
      "[Main]",
      "Updater=0",
      "ShowCaption=1",
      "ProgramName=Orva Flash OFS3 Utility",
      "ShowVersion=1",
      "ShowDate=1",
      "[Argument default value]",
      "s=0", "i=0", "n=-1", "k=0", "u=0", "a=1", "y=0", "d=0", "g=0", "r=0",
      "[Argument enabled]",
      "s=1", "c=1", "b=1", "h=1", "v=1", "e=1", "i=1", "n=1", "k=1", "u=1",
      "a=1", "p=1", "m=1", "o=1", "f=1", "t=1", "y=1", "d=1", "g=1", "r=1",
      "Disable98AutoInsertNotification=1",
      "[Other settings]",
      "CheckSum=0", "HardwareID=0", "ModelName=0", "AvailableModel=0", "Verify=1", "NoDisc=1",
      "ImmediateAtapi=1", "WriteNewCode=1", "ErasePadRandom=0", "ErasePadChar=0", "Timer=1",
      "[AvailableModelNames]",
      "ORVA    KZR-3350P2      ",
      "ORVA    KZW-5520        ",
      "[Title]",
      "       -- Compatible with Orva OFS3 Utility v1.13. 2005/11/29",
      "       -- Compatible with Orva Merge Utility v1.07. 2005/10/06",
  };
  return text;
}

}  // namespace ofs
