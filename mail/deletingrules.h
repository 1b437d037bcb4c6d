#pragma once

// True when any of the user's filter rules ("...\\Filter Manager") says "CheckDeleteInServer"
// "1", so that a check may have to delete a message on the server. A client that knows no
// rule can delete may end the session with its last fetch instead of waiting for every
// verdict first. When the rules cannot be read the answer is true: the cautious one.
//
// Threads: any; it only reads the settings store.
bool AnyRuleDeletesOnServer();
